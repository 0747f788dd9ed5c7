// The recipe reader on arbitrary bytes: it must never crash, and a record
// once written must read back to the same text (writing is stable after one
// round; the first may normalise values such as a weight that prints as the
// old "unmeasured" 0.5). The identity step, which opens the files a recipe
// names, is left out: paths from the input must not reach the file system.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "presets/recipes.h"

namespace {

std::string Round(const std::string& text) { return korvel::FormatRecipe(korvel::ReadRecipeJson(korvel::ParseJson(text))); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string second = Round(Round(input));
    if (Round(second) != second) std::abort();
    return 0;
}
