// The update check reads its manifest from the network: no input may make
// the reading fail to terminate, read outside the bytes or pick a release
// that is not newer than the build.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "app/update_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy lets the address sanitizer catch a read past the end.
    std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
    for (size_t i = 0; i < size; ++i) copy[i] = static_cast<char>(data[i]);
    const korvel::UpdateManifestResult result =
        korvel::ReadUpdateManifest(std::string_view(copy.get(), size), "2026.8.1");
    if (result.kind == korvel::UpdateManifestResult::Kind::Newer &&
        korvel::CompareVersions(result.version, "2026.8.1") <= 0)
        std::abort();
    if (result.kind != korvel::UpdateManifestResult::Kind::Newer && !result.version.empty()) std::abort();
    return 0;
}
