#pragma once

// A full disk for this process, even as root: while it lives, no regular file grows past the
// limit (writes fail with EFBIG instead of raising SIGXFSZ).

#include <csignal>

#include <sys/resource.h>

namespace brisalune::testkit {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = SIG_DFL;
};

}  // namespace brisalune::testkit
