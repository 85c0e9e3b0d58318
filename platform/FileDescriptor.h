#pragma once

#include <utility>

namespace treelan {

// An open file descriptor that closes itself; -1 holds none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    // Closes the descriptor held, if any, and holds `fd`.
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Whether standard error is a terminal: a progress line that rewrites itself is shown only there.
bool StandardErrorIsTerminal();

} // namespace treelan
