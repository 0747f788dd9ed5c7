// The hand-over listener reads bytes another process sends; no message may
// make the parser read past the bytes received or return a path longer than
// the stated length.
#include "platform/hand_over.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
    for (size_t i = 0; i < size; ++i) copy[i] = static_cast<char>(data[i]);
    // Every prefix, as the bytes arrive piece by piece.
    for (size_t end = 0; end <= size; ++end) {
        std::string path;
        const korvel::HandOverParse result = korvel::ParseHandOverMessage(copy.get(), end, path);
        if (result == korvel::HandOverParse::Complete) {
            if (path.empty() || path.size() + korvel::kHandOverHeaderBytes > end) std::abort();
            if (path.size() > korvel::kHandOverMaxBytes) std::abort();
        }
    }
    return 0;
}
