// The launcher reads a recent project's description from the start of its
// file when that settles it, and from the whole file otherwise. No text may
// crash either reader, and whenever a prefix settles the answer it must be
// the answer the whole file gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string whole = korvel::ProjectDescriptionFromText(text);
    for (const std::size_t cut : {size, size / 2, size / 3}) {
        std::string found;
        if (!korvel::ProjectDescriptionFromPrefix(std::string_view(text).substr(0, cut), found)) continue;
        if (found != whole) std::abort();
    }
    return 0;
}
