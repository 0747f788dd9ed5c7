// The strict parser reads update manifests from the network; no input may
// make it read outside the given bytes or recurse without bound.
#include "project/strict_json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy lets the address sanitizer catch a read of the
    // first byte past the end.
    std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
    for (size_t i = 0; i < size; ++i) copy[i] = static_cast<char>(data[i]);
    korvel::StrictJsonValue value;
    if (korvel::ParseStrictJson(std::string_view(copy.get(), size), value) && value.tag == 5) {
        const korvel::StrictJsonValue* version = value.Find("version");
        if (version && version->tag == 3 && version->string.size() > size) std::abort();
    }
    return 0;
}
