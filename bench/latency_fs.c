// A pass-through file system that waits on every lookup, getattr and readdir, as a network mount
// does for its round trip. Requests are served concurrently (libfuse's multi-threaded loop), the
// kernel caches nothing (entry and attribute timeouts 0) and READDIRPLUS is off, so each walk
// pays the wait for every call it makes.
//
// Usage: latency_fs SOURCE MOUNTPOINT [-o delay_us=N] [FUSE options]   (default delay 1000 us)
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static struct {
    char *source;
    int delay_us;
} config = {NULL, 1000};

static const struct fuse_opt options[] = {
    {"delay_us=%d", offsetof(typeof(config), delay_us), 0},
    FUSE_OPT_END,
};

static void wait_round_trip(void) {
    struct timespec t = {config.delay_us / 1000000, (long)(config.delay_us % 1000000) * 1000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

static void full_path(char out[PATH_MAX], const char *path) {
    snprintf(out, PATH_MAX, "%s%s", config.source, path);
}

static void *lat_init(struct fuse_conn_info *conn, struct fuse_config *cfg) {
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->use_ino = 1;
    conn->want &= ~(unsigned)(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
    return NULL;
}

// The high-level interface turns each lookup into a getattr: the wait covers both.
static int lat_getattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
    (void)fi;
    char p[PATH_MAX];
    full_path(p, path);
    wait_round_trip();
    return lstat(p, st) == 0 ? 0 : -errno;
}

static int lat_readlink(const char *path, char *buf, size_t size) {
    char p[PATH_MAX];
    full_path(p, path);
    const ssize_t n = readlink(p, buf, size - 1);
    if (n < 0) return -errno;
    buf[n] = 0;
    return 0;
}

static int lat_opendir(const char *path, struct fuse_file_info *fi) {
    char p[PATH_MAX];
    full_path(p, path);
    DIR *d = opendir(p);
    if (!d) return -errno;
    fi->fh = (uint64_t)(uintptr_t)d;
    return 0;
}

// The whole folder in one answer (offset 0 for each entry): libfuse keeps it and serves later
// reads and seeks from it.
static int lat_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset,
                       struct fuse_file_info *fi, enum fuse_readdir_flags flags) {
    (void)path;
    (void)offset;
    (void)flags;
    DIR *d = (DIR *)(uintptr_t)fi->fh;
    wait_round_trip();
    rewinddir(d);
    struct dirent *e;
    while ((e = readdir(d)) != NULL) {
        struct stat st = {0};
        st.st_ino = e->d_ino;
        st.st_mode = (mode_t)(DTTOIF(e->d_type));
        if (fill(buf, e->d_name, &st, 0, 0)) break;
    }
    return 0;
}

static int lat_releasedir(const char *path, struct fuse_file_info *fi) {
    (void)path;
    closedir((DIR *)(uintptr_t)fi->fh);
    return 0;
}

static int lat_open(const char *path, struct fuse_file_info *fi) {
    char p[PATH_MAX];
    full_path(p, path);
    const int fd = open(p, fi->flags & ~(O_CREAT | O_TRUNC));
    if (fd < 0) return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int lat_read(const char *path, char *buf, size_t size, off_t offset,
                    struct fuse_file_info *fi) {
    (void)path;
    const ssize_t n = pread((int)fi->fh, buf, size, offset);
    return n < 0 ? -errno : (int)n;
}

static int lat_release(const char *path, struct fuse_file_info *fi) {
    (void)path;
    close((int)fi->fh);
    return 0;
}

static const struct fuse_operations operations = {
    .init = lat_init,
    .getattr = lat_getattr,
    .readlink = lat_readlink,
    .opendir = lat_opendir,
    .readdir = lat_readdir,
    .releasedir = lat_releasedir,
    .open = lat_open,
    .read = lat_read,
    .release = lat_release,
};

int main(int argc, char *argv[]) {
    if (argc < 3) {
        fprintf(stderr, "usage: latency_fs SOURCE MOUNTPOINT [-o delay_us=N] [FUSE options]\n");
        return 2;
    }
    config.source = realpath(argv[1], NULL);
    if (!config.source) {
        fprintf(stderr, "latency_fs: %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    // SOURCE is ours; the rest goes to libfuse.
    argv[1] = argv[0];
    struct fuse_args args = FUSE_ARGS_INIT(argc - 1, argv + 1);
    if (fuse_opt_parse(&args, &config, options, NULL) != 0) return 2;
    const int rc = fuse_main(args.argc, args.argv, &operations, NULL);
    fuse_opt_free_args(&args);
    return rc;
}
