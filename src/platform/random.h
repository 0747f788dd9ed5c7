#pragma once
// Random bytes from the operating system's cryptographic source.
#include <cstddef>

namespace korvel {

// Fills `count` bytes from getrandom(2), retrying on interruption and short
// reads. Returns false only when the system source itself is unavailable,
// in which case the buffer holds bytes from a weaker process-local source
// so that callers always receive a usable value.
bool FillRandomBytes(void* buffer, std::size_t count);

}  // namespace korvel
