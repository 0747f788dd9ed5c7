#include "support/child_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace korvel::test {

pid_t StartChild(const std::function<int()>& body) {
    std::fflush(nullptr);  // the child must not print the parent's buffered output again
    const pid_t child = fork();
    if (child == 0) {
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    return child;
}

ChildOutcome WaitForChild(pid_t child) {
    ChildOutcome outcome;
    if (child < 0) return outcome;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return outcome;
    }
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

ChildOutcome RunInChild(const std::function<int()>& body, std::uint64_t addressSpaceLimit) {
    return WaitForChild(StartChild([&] {
        if (addressSpaceLimit > 0) {
            const rlimit limit{addressSpaceLimit, addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        return body();
    }));
}

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

}  // namespace korvel::test
