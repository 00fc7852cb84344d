// Makes every write beyond `bytes` fail with EFBIG, as a full disk makes a write fail after
// the file was created, and lifts the limit again at the end of the scope.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace trelvo::testing {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending us
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

}  // namespace trelvo::testing
