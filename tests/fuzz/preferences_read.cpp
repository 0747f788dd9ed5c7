// The preferences reader on arbitrary bytes: it must never crash, and what
// it reads must write back to a file that reads the same way (a fixed
// point), so no text can smuggle a key into the file through a value.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/theme.h"
#include "presets/preferences.h"

namespace {

// One engine for every input (it is large); of it the preferences touch only
// the reverb settings, which each run starts again from their defaults.
korvel::PlaybackEngine& Engine() {
    static auto engine = std::make_unique<korvel::PlaybackEngine>();
    engine->reverb = {};
    return *engine;
}

struct Records {
    std::unique_ptr<korvel::AppState> app = std::make_unique<korvel::AppState>();
    std::unique_ptr<korvel::Project> project = std::make_unique<korvel::Project>();
    std::unique_ptr<korvel::Library> library = std::make_unique<korvel::Library>();
    std::vector<korvel::PendingLibraryFolder> pending;
    korvel::PreferenceHomes homes{app.get(), project.get(), &Engine(), library.get(), &pending};
};

void ResetLook() {
    korvel::ThemeIndex = 0;
    korvel::WeightColorLow = korvel::PackOpaqueRgb(0x44, 0x01, 0x54);
    korvel::WeightColorMid = korvel::PackOpaqueRgb(0x21, 0x91, 0x8C);
    korvel::WeightColorHigh = korvel::PackOpaqueRgb(0xFD, 0xE7, 0x25);
}

std::string ReadAndWrite(std::string_view text) {
    Records records;
    std::vector<korvel::PendingLibraryFolder> entries;
    korvel::ApplyPreferencesText(text, records.homes, entries);
    korvel::MergeLibraryEntries(entries, records.homes);
    return korvel::FormatPreferences(records.homes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ResetLook();
    const std::string first = ReadAndWrite(text);
    ResetLook();
    if (ReadAndWrite(first) != first) std::abort();
    return 0;
}
