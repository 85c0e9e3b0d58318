#!/usr/bin/env bash
# Set-up, build and checks for a machine that may have nothing but this checkout: each job installs what
# it is missing first (scripts/install-deps.sh; as root, or as a user with sudo), then builds only what it
# runs. Nothing here needs make.
#
#   ./treelan.sh run [FOLDER [OUTPUT]]  build treelan-cli and export FOLDER (default: this folder) as a
#                                       web archive (default: treelan-export.mht)
#   ./treelan.sh test                   build everything and run every test, the package checks included
#   ./treelan.sh build                  build the programs
#   ./treelan.sh deb                    build the Debian package (build/treelan_VERSION_ARCH.deb)
#   ./treelan.sh asan                   run the tests under AddressSanitizer and UBSan (build-asan/)
#   ./treelan.sh tsan                   run the tests that start threads (the window's background
#                                       scan, sort and export, the catalogue add's writer, the media
#                                       readers' pool, the walk's workers) under ThreadSanitizer
#                                       (build-tsan/)
#   ./treelan.sh bench [ARGS]           run the benchmarks of bench/ against their peers
#   ./treelan.sh fuzz                   run each fuzz target of fuzz/ for FUZZ_SECONDS (default: 60)
#                                       under ASan and UBSan; FUZZ_TARGETS="mp3 utf8" for some
#
# BUILD (default: build) names the build folder, JOBS (default: 2) the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD:-build}
JOBS=${JOBS:-2}

configure() { # FOLDER [CMAKE ARGS]
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

job=${1:-}
[ $# -gt 0 ] && shift
case "$job" in
    run)
        folder=${1:-.}
        output=${2:-treelan-export.mht}
        scripts/install-deps.sh build
        configure "$BUILD"
        cmake --build "$BUILD" -j"$JOBS" --target treelan-cli
        "$BUILD/bin/treelan-cli" export -r -m "$folder" "$output"
        echo "Wrote $output"
        ;;
    test)
        scripts/install-deps.sh test
        configure "$BUILD"
        cmake --build "$BUILD" -j"$JOBS"
        (cd "$BUILD" && ctest --output-on-failure -j"$JOBS")
        ;;
    build)
        scripts/install-deps.sh build
        configure "$BUILD"
        cmake --build "$BUILD" -j"$JOBS"
        ;;
    deb)
        scripts/install-deps.sh package
        configure "$BUILD"
        cmake --build "$BUILD" -j"$JOBS"
        (cd "$BUILD" && cpack -G DEB)
        ;;
    asan)
        scripts/install-deps.sh test
        BUILD=build-asan
        configure "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DTREELAN_SANITIZE=ON
        cmake --build "$BUILD" -j"$JOBS"
        (cd "$BUILD" && ctest --output-on-failure -j"$JOBS")
        ;;
    tsan)
        scripts/install-deps.sh test
        BUILD=build-tsan
        configure "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DTREELAN_SANITIZE_THREAD=ON
        # The catalogue and command-line tests run treelan-cli, built with TSan too: a race in
        # its threads ends it with TSan's exit status, which the test sees.
        tsan_tests="backgroundscan|frmexport|exportcommand|endtoend|frmstyle|savedialog|localizeform"
        tsan_tests+="|listingmodel|folderscan|mediaread|exportdocument|treewriter|cli|catalog[a-z]+|walk|walkahead|filter|listingfilter"
        cmake --build "$BUILD" -j"$JOBS"
        # Qt's own libraries are not instrumented: the suppressions name what happens inside them.
        # die_after_fork=0: QProcess starts the command-line program from a threaded test, and
        # the child only calls exec.
        (cd "$BUILD" && TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/../scripts/tsan.supp" \
            ctest --output-on-failure -j"$JOBS" -R "^tst_($tsan_tests)\$")
        ;;
    bench)
        scripts/install-deps.sh bench
        configure "$BUILD"
        cmake --build "$BUILD" -j"$JOBS"
        cmake --build "$BUILD" -j"$JOBS" --target bench_mp3read bench_list bench_mediabytes bench_walkcancel
        python3 bench/run_bench.py "$BUILD/bin" "$@"
        # The walk with its workers against itself alone, find and gdu (a FUSE mount where allowed).
        python3 bench/walk_bench.py "$BUILD/bin"
        # Media details against ffprobe; MEDIA_BASELINE names a treelan-cli to compare start-up with.
        python3 bench/media_bench.py "$BUILD/bin" ${MEDIA_BASELINE:+--baseline "$MEDIA_BASELINE"}
        ;;
    fuzz)
        # One target at a time, niced, from its committed seeds; the corpus grows in
        # build-fuzz/corpus/, findings land in build-fuzz/findings/.
        scripts/install-deps.sh fuzz
        targets=${FUZZ_TARGETS:-$(cd fuzz && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')}
        CXX=clang++ configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREELAN_FUZZ=ON \
            -DTREELAN_BUILD_GUI=OFF -DTREELAN_BUILD_TESTS=OFF
        cmake --build build-fuzz -j"$JOBS" --target $(printf 'fuzz_%s ' $targets)
        mkdir -p build-fuzz/findings
        for t in $targets; do
            extra=()
            # Inputs larger than the MP3 reader's 64 KiB window reach its far end.
            [ "$t" = mp3 ] && extra=(-max_len=131072)
            # The libraries allocate as their headers say: some inputs take seconds under ASan
            # (not in a release build), so the media target runs in a child that goes on past them.
            [ "$t" = media ] && extra=(-timeout=10 -fork=1 -ignore_timeouts=1)
            mkdir -p "build-fuzz/corpus/$t"
            nice -n 10 "build-fuzz/bin/fuzz_$t" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=2 \
                -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t-" \
                "${extra[@]}" "build-fuzz/corpus/$t" $(tr ';' ' ' <"build-fuzz/fuzz/$t.seeds")
        done
        ;;
    *)
        sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
        exit 2
        ;;
esac
