#pragma once
// Runs a piece of a test in a forked child, so that a crash, an abort, a
// memory limit or a kill hits the child and the test can judge what is left.
#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace korvel::test {

struct ChildOutcome {
    bool exited = false;  // ended by returning or _exit
    int exitCode = -1;
    int signal = 0;       // the signal that ended it, 0 when it exited
};

// Runs `body` in a child and waits for it; the child exits with what `body`
// returns. With `addressSpaceLimit` above 0 the child may map at most that
// many bytes, so an allocation sized from a hostile header fails there.
ChildOutcome RunInChild(const std::function<int()>& body, std::uint64_t addressSpaceLimit = 0);

// Starts `body` in a child and returns its id without waiting.
pid_t StartChild(const std::function<int()>& body);

// Waits for a child started by StartChild.
ChildOutcome WaitForChild(pid_t child);

// True when the build runs under a sanitizer, whose shadow memory does not
// fit an address-space limit.
bool UnderSanitizer();

}  // namespace korvel::test
