// A project's crash lock may hold anything another program or a torn write
// left there; reading it names a positive process id or none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "project/project_life.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (korvel::CrashLockProcessId(text) < 0) std::abort();
    return 0;
}
