// The preferences file.
//
// [SECTION] Numbers and texts
// [SECTION] The settings, in the writer's key order
// [SECTION] Reading
// [SECTION] Writing
// [SECTION] Load and save
#include "presets/preferences.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/theme.h"
#include "playback/mixer_publishing.h"
#include "presets/user_folders.h"
#include "project/c_locale.h"
#include "project/file_io.h"
#include "project/project_file_read.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// [SECTION] Numbers and texts
// ---------------------------------------------------------------------------

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// As atoll reads: leading white space, a sign, decimal digits, anything after
// them ignored; no number reads as 0. Saturates instead of overflowing.
std::int64_t ReadInt64(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulated as a negative number, whose range holds the minimum.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            break;
        }
        value = value * 10 - digit;
    }
    if (negative) return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::int32_t ReadInt(std::string_view text) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        ReadInt64(text), std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// As atof reads (the caller holds the C locale). "nan" counts as no number.
double ReadDouble(std::string_view text) {
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    return std::isnan(value) ? 0.0 : value;
}

// Carriage returns, line feeds and NULs would end or split the line they
// are written on, so free texts lose them.
std::string WithoutLineBreaks(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (const char c : text)
        if (c != '\n' && c != '\r' && c != '\0') clean += c;
    return clean;
}

bool HoldsLineBreak(std::string_view text) { return text.find_first_of(std::string_view("\n\r\0", 3)) != text.npos; }

struct NoAction {
    void operator()() const {}
};

// ---------------------------------------------------------------------------
// [SECTION] The settings, in the writer's key order
// ---------------------------------------------------------------------------

constexpr const char* kTraceWeightKeys[] = {"tm_w0", "tm_w1", "tm_w2", "tm_w3", "tm_w4"};
constexpr const char* kTracePosMeanKeys[] = {"tm_posMean0", "tm_posMean1", "tm_posMean2", "tm_posMean3",
                                             "tm_posMean4"};
constexpr const char* kTraceNegMeanKeys[] = {"tm_negMean0", "tm_negMean1", "tm_negMean2", "tm_negMean3",
                                             "tm_negMean4"};
constexpr const char* kReverbSendKeys[] = {"reverbSend0", "reverbSend1", "reverbSend2"};
static_assert(std::size(kTraceWeightKeys) == kTraceModelWeights);
static_assert(std::size(kReverbSendKeys) == kTrackGroupCount);

constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

// Every single-valued key, its home and how it is read and written, in the
// order the writer writes them. The reader and the writer both walk it, so
// they cannot disagree on a key, a clamp or a home.
template <typename Visitor>
void VisitSettings(const PreferenceHomes& homes, Visitor& v) {
    AppState& a = *homes.app;
    Project& p = *homes.project;
    ReverbSettings& r = homes.engine->reverb;
    TraceModel& tm = a.traceAnalysis.model;
    const auto selectFonts = [&a] { SetFontSizePreset(a.fontSizePreset, a); };

    v.Float("handleDuration", a.exportSettings.handleDuration, 2, 0.01, 60.0);
    v.Bool("handleFullSource", a.exportSettings.handleFullSource);
    v.Float("fadeInDuration", a.exportSettings.fadeInDuration, 3, 0.0, 30.0);
    v.Float("fadeOutDuration", a.exportSettings.fadeOutDuration, 3, 0.0, 30.0);
    v.Bool("exportAAFMarkers", a.exportSettings.exportAAFMarkers);
    v.Bool("exportAAFVolAuto", a.exportSettings.exportAAFVolAuto);
    v.Bool("exportAAFSourceChannels", a.exportSettings.exportAAFSourceChannels);
    v.Bool("exportFormatAAF", a.exportSettings.exportFormatAAF);
    v.Bool("exportFormatWAV", a.exportSettings.exportFormatWAV);
    v.Bool("exportWavMixdown", a.exportSettings.exportWavMixdown);
    v.Bool("exportWavStems", a.exportSettings.exportWavStems);
    v.Int("exportWavLayout", a.exportWavLayout, 0, 3);
    v.Int("exportWavLUFSIndex", a.exportWavLUFSIndex, 0, 4);
    v.Int("exportSpatialMode", a.exportSpatialMode, 0, 2);
    v.Float("spatialAmount", a.spatialAmount, 4, 0.0, 1.0);
    v.Bool("exportWavTracks", a.exportSettings.exportWavTracks);
    v.Bool("exportWavClips", a.exportSettings.exportWavClips);
    v.Bool("exportReverbStem", a.exportSettings.exportReverbStem);
    v.SampleRate("projectSampleRate", a.projectSampleRate);
    v.Float("maxEventDuration", p.maxEventDuration, 1, 0.1, 600.0);
    v.Bool("protectSilence", a.protectSilence);
    v.Bool("destructiveEQ", a.destructiveEQ);
    v.Bool("chainsImportAsGroup", a.chainsImportAsGroup);
    v.AtomicInt("channelOrderFallback", a.channelOrderFallback, 0, 2);
    v.Bool("showSpectralHeatmap", a.showSpectralHeatmap);
    v.Int("scaleType", p.scaleType, 0, 16);
    v.Int("scaleRoot", p.scaleRoot, 0, 11);
    v.Int("pitchShiftProb", p.pitchShiftProb, 0, 100);
    v.Int("freqShiftIntensity", p.freqShiftIntensity, 0, 100);
    v.Int("reverseProb", p.reverseProb, 0, 100);
    v.Int("fontSizePreset", a.fontSizePreset, 0, 2, selectFonts);
    v.Bool("fontSizeAuto", a.fontSizeAuto);
    v.Bool("boldFonts", a.boldFonts, selectFonts);
    v.Int("theme", ThemeIndex, 0, 6, [] {
        SetTheme(ThemeIndex);
        ApplyTheme();
    });
    v.Bool("colorByWeight", a.colorByWeight);
    v.Bool("showAdvancedInspector", a.showAdvancedInspector);
    v.Int("lastIntensityMode", a.lastIntensityMode, 0, 2);
    v.Bool("autoSaveEnabled", a.autoSaveEnabled);
    v.Bool("audioFocusLatched", a.audioFocusLatched);
    v.Float("autoSaveInterval", a.autoSaveInterval, 0, 30.0, 3600.0);
    v.Int("maxBackups", a.maxBackups, 1, 50);
    v.Color("weightColorLow", WeightColorLow);
    v.Color("weightColorMid", WeightColorMid);
    v.Color("weightColorHigh", WeightColorHigh);
    v.Bool("reverbEnabled", r.enabled);
    v.Float("reverbSize", r.size, 3, 0.0, 1.0);
    v.Float("reverbDecay", r.decay, 3, 0.0, 1.0);
    v.Float("reverbDamping", r.damping, 3, 0.0, 1.0);
    v.Float("reverbPreDelay", r.preDelay, 4, 0.0, 0.2);
    v.Float("reverbDiffusion", r.diffusion, 3, 0.0, 1.0);
    v.Float("reverbModulation", r.modulation, 3, 0.0, 1.0);
    v.Float("reverbMacro", r.macro, 3, 0.0, 1.0);
    for (int g = 0; g < kTrackGroupCount; ++g) v.Float(kReverbSendKeys[g], r.groupSends[g], 3, 0.0, 1.0);

    v.Bool("tm_valid", tm.valid);
    v.WriteOnlyWhen(tm.valid);
    v.Int("tm_totalSpots", tm.totalSpots, 0, kIntMax);
    for (int i = 0; i < kTraceModelWeights; ++i) v.FiniteFloat(kTraceWeightKeys[i], tm.w[i]);
    v.FiniteFloat("tm_defaultCompositeMean", tm.defaultCompositeMean);
    v.FiniteFloat("tm_thresholdScale", tm.thresholdScale);
    v.FiniteFloat("tm_subtleScale", tm.subtleScale);
    v.FiniteFloat("tm_spotCutoff", tm.spotCutoff);
    v.FiniteFloat("tm_gainA", tm.gainA);
    v.FiniteFloat("tm_gainB", tm.gainB);
    v.FiniteFloat("tm_weightBias", tm.weightBias);
    v.FiniteFloat("tm_spotDurScale", tm.spotDurScale);
    v.FiniteFloat("tm_sweepDurScale", tm.sweepDurScale);
    v.FiniteFloat("tm_minGap", tm.minGap);
    v.Int("tm_posCount", tm.posCount, 0, kIntMax);
    for (int i = 0; i < kTraceModelWeights; ++i) v.FiniteFloat(kTracePosMeanKeys[i], tm.posMean[i]);
    v.Int("tm_negCount", tm.negCount, 0, kIntMax);
    for (int i = 0; i < kTraceModelWeights; ++i) v.FiniteFloat(kTraceNegMeanKeys[i], tm.negMean[i]);
    v.WriteOnlyWhen(true);

    v.Bool("showLauncherOnStartup", a.showLauncherOnStartup);
    v.Bool("updateCheckEnabled", a.updateCheckEnabled);
    v.Text("dismissedUpdateVersion", a.dismissedUpdateVersion);
    v.Int64("lastUpdateCheck", a.updateInfo.lastUpdateCheck);
    v.UpdateTexts(a.updateInfo);
}

// Recognised and ignored: keys that earlier versions wrote.
constexpr std::string_view kRetiredKeys[] = {"maxLayersPerEvent",    "deconflictEnabled", "adaptiveLayerCount",
                                             "dynamicRangePreserve", "brellCeiling",      "narrativeDensity"};

// ---------------------------------------------------------------------------
// [SECTION] Reading
// ---------------------------------------------------------------------------

// Reads one line's value into the setting its key names, if any.
class LineReader {
public:
    LineReader(std::string_view key, std::string_view value) : key_(key), value_(value) {}
    bool matched() const { return matched_; }

    template <typename After = NoAction>
    void Bool(const char* key, bool& field, After after = {}) {
        if (!Is(key)) return;
        field = ReadInt(value_) != 0;
        after();
    }
    template <typename After = NoAction>
    void Int(const char* key, std::int32_t& field, std::int32_t lo, std::int32_t hi, After after = {}) {
        if (!Is(key)) return;
        field = std::clamp(ReadInt(value_), lo, hi);
        after();
    }
    void AtomicInt(const char* key, CopyableAtomic<std::int32_t>& field, std::int32_t lo, std::int32_t hi) {
        if (Is(key)) field.store(std::clamp(ReadInt(value_), lo, hi));
    }
    void Int64(const char* key, std::int64_t& field) {
        if (Is(key)) field = ReadInt64(value_);
    }
    void SampleRate(const char* key, std::int32_t& field) {
        if (!Is(key)) return;
        const std::int32_t rate = ReadInt(value_);
        if (rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000) field = rate;
    }
    // Clamped as a double, so that no value out of the float's range is ever
    // converted.
    void Float(const char* key, float& field, int /*decimals*/, double lo, double hi) {
        if (Is(key)) field = static_cast<float>(std::clamp(ReadDouble(value_), lo, hi));
    }
    // Taken only when finite, also as a float.
    void FiniteFloat(const char* key, float& field) {
        if (!Is(key)) return;
        const std::string copy(value_);
        const double value = std::strtod(copy.c_str(), nullptr);
        if (std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max())
            field = static_cast<float>(value);
    }
    void Color(const char* key, std::uint32_t& field) {
        if (!Is(key)) return;
        const std::string copy(value_);
        unsigned r = 0, g = 0, b = 0;
        if (std::sscanf(copy.c_str(), "#%02x%02x%02x", &r, &g, &b) == 3) field = PackOpaqueRgb(r, g, b);
    }
    void Text(const char* key, std::string& field) {
        if (Is(key)) field.assign(value_);
    }
    // The first update text of a file replaces the whole finding of the
    // previous run.
    void UpdateTexts(UpdateInfo& info) {
        std::string* field = nullptr;
        if (Is("updateAvailableVersion")) field = &info.version;
        else if (Is("updateAvailablePageUrl")) field = &info.url;
        else if (Is("updateAvailableDate")) field = &info.date;
        else if (!Is("updateAvailableNote")) return;
        if (!info.updateAvailable) {
            info.version.clear();
            info.url.clear();
            info.date.clear();
            info.notes.clear();
            info.updateAvailable = true;
        }
        if (field != nullptr) field->assign(value_);
        else info.notes.emplace_back(value_);
    }
    void WriteOnlyWhen(bool) {}

private:
    bool Is(const char* key) {
        if (matched_ || key_ != key) return false;
        matched_ = true;
        return true;
    }

    std::string_view key_;
    std::string_view value_;
    bool matched_ = false;
};

}  // namespace

PendingLibraryFolder ParseLibraryExValue(std::string_view value) {
    PendingLibraryFolder entry;
    const std::size_t last = value.rfind('|');
    if (last == value.npos) {
        entry.path = value;
        return entry;
    }
    const std::size_t before = last == 0 ? value.npos : value.rfind('|', last - 1);
    if (before == value.npos) {
        entry.path = value.substr(0, last);
        return entry;
    }
    entry.path = value.substr(0, before);
    entry.enabled = ReadInt(value.substr(before + 1, last - before - 1)) != 0;
    const std::int32_t group = ReadInt(value.substr(last + 1));
    // The builder indexes its three groups with it.
    entry.trackGroup = group >= -1 && group < kTrackGroupCount ? group : -1;
    return entry;
}

void ApplyPreferencesText(std::string_view text, const PreferenceHomes& homes,
                          std::vector<PendingLibraryFolder>& libraryEntries) {
    // A decimal comma would read "0.5" as 0.
    const CLocaleScope cLocale;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == text.npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;

        // A NUL ends the text of a line, as it ends any C string; a CR before
        // the line feed is the end of a line written on another system.
        if (const std::size_t nul = line.find('\0'); nul != line.npos) line = line.substr(0, nul);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t equals = line.find('=');
        if (equals == line.npos) continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);

        // The keys that repeat come first: a file holds hundreds of them.
        if (key == "libraryEx") {
            libraryEntries.push_back(ParseLibraryExValue(value));
        } else if (key == "library") {
            libraryEntries.push_back({std::string(value), true, -1});
        } else if (key == "recentProject") {
            if (IsValidRecentProjectPath(value)) homes.app->recentProjects.emplace_back(value);
        } else if (std::find(std::begin(kRetiredKeys), std::end(kRetiredKeys), key) == std::end(kRetiredKeys)) {
            LineReader reader(key, value);
            VisitSettings(homes, reader);
        }
    }
}

void MergeLibraryEntries(const std::vector<PendingLibraryFolder>& libraryEntries, const PreferenceHomes& homes) {
    Library& library = *homes.library;
    std::vector<PendingLibraryFolder>& pending = *homes.pendingFolders;
    // Saved selections have no folder: their lines, all with an empty path,
    // are written in palette order, so the n-th such line belongs to the
    // n-th saved selection.
    auto nextSelection = library.palettes.begin();
    for (const PendingLibraryFolder& entry : libraryEntries) {
        auto palette = library.palettes.end();
        if (entry.path.empty()) {
            nextSelection = std::find_if(nextSelection, library.palettes.end(),
                                         [](const Palette& p) { return p.folder.empty(); });
            if (nextSelection == library.palettes.end()) continue;  // no folder to scan either
            palette = nextSelection++;
        } else {
            palette = std::find_if(library.palettes.begin(), library.palettes.end(),
                                   [&](const Palette& p) { return p.folder == entry.path; });
        }
        if (palette != library.palettes.end()) {
            // The keyword index holds the words of the enabled palettes only.
            if (palette->enabled != entry.enabled) library.keywordIndex.dirty = true;
            palette->enabled = entry.enabled;
            palette->trackGroup = entry.trackGroup;
            continue;
        }
        const auto queued = std::find_if(pending.begin(), pending.end(),
                                         [&](const PendingLibraryFolder& p) { return p.path == entry.path; });
        if (queued != pending.end()) *queued = entry;
        else pending.push_back(entry);
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Writing
// ---------------------------------------------------------------------------

namespace {

// Writes each setting as one line.
class LineWriter {
public:
    explicit LineWriter(std::string& out) : out_(out) {}

    template <typename After = NoAction>
    void Bool(const char* key, bool field, After = {}) {
        Line(key, field ? "1" : "0");
    }
    template <typename After = NoAction>
    void Int(const char* key, std::int32_t field, std::int32_t, std::int32_t, After = {}) {
        Printf(key, "%d", field);
    }
    void AtomicInt(const char* key, const CopyableAtomic<std::int32_t>& field, std::int32_t, std::int32_t) {
        Printf(key, "%d", field.load());
    }
    void Int64(const char* key, std::int64_t field) { Printf(key, "%lld", static_cast<long long>(field)); }
    void SampleRate(const char* key, std::int32_t field) { Printf(key, "%d", field); }
    void Float(const char* key, float field, int decimals, double, double) {
        Printf(key, "%.*f", decimals, static_cast<double>(field));
    }
    void FiniteFloat(const char* key, float field) { Printf(key, "%.6f", static_cast<double>(field)); }
    void Color(const char* key, std::uint32_t field) {
        Printf(key, "#%02X%02X%02X", field & 0xFFu, (field >> 8) & 0xFFu, (field >> 16) & 0xFFu);
    }
    void Text(const char* key, const std::string& field) {
        if (std::string clean = WithoutLineBreaks(field); !clean.empty()) Line(key, clean);
    }
    void UpdateTexts(const UpdateInfo& info) {
        if (!info.updateAvailable) return;
        Line("updateAvailableVersion", WithoutLineBreaks(info.version));
        Text("updateAvailablePageUrl", info.url);
        Text("updateAvailableDate", info.date);
        for (const std::string& note : info.notes) Line("updateAvailableNote", WithoutLineBreaks(note));
    }
    void WriteOnlyWhen(bool condition) { writing_ = condition; }

    void Line(std::string_view key, std::string_view value) {
        if (!writing_) return;
        out_.append(key).append(1, '=').append(value).append(1, '\n');
    }

private:
    template <typename... Args>
    void Printf(const char* key, const char* format, Args... args) {
        char buffer[512];
        const int length = std::snprintf(buffer, sizeof buffer, format, args...);
        if (length < 0) return;
        Line(key, std::string_view(buffer, std::min<std::size_t>(static_cast<std::size_t>(length),
                                                                 sizeof buffer - 1)));
    }

    std::string& out_;
    bool writing_ = true;
};

}  // namespace

std::string FormatPreferences(const PreferenceHomes& homes) {
    const CLocaleScope cLocale;  // and would write it as "0,5"
    std::string text;
    text.reserve(4096);
    LineWriter writer(text);
    VisitSettings(homes, writer);

    const std::vector<std::string>& recent = homes.app->recentProjects;
    for (std::size_t i = 0; i < recent.size(); ++i) {
        const std::string& path = recent[i];
        if (path.find_first_of("/\\") == path.npos) continue;
        if (!IsValidRecentProjectPath(path)) {
            std::printf("[SavePrefs] Skipping corrupted recent project entry %d\n", static_cast<int>(i));
            continue;
        }
        writer.Line("recentProject", path);
    }

    // Folders still waiting for their scans are written too, so a quit
    // before a scan ends keeps them. A folder whose name holds a line break
    // cannot be written faithfully and is left out.
    const auto libraryLine = [&](const std::string& folder, bool enabled, std::int32_t group) {
        if (HoldsLineBreak(folder)) return;
        char flags[32];
        std::snprintf(flags, sizeof flags, "|%d|%d", enabled ? 1 : 0, group);
        writer.Line("libraryEx", folder + flags);
    };
    for (const Palette& palette : homes.library->palettes)
        libraryLine(palette.folder, palette.enabled, palette.trackGroup);
    for (const PendingLibraryFolder& folder : FoldersAwaitingPalettes(*homes.library, *homes.pendingFolders))
        libraryLine(folder.path, folder.enabled, folder.trackGroup);
    return text;
}

// ---------------------------------------------------------------------------
// [SECTION] Load and save
// ---------------------------------------------------------------------------

std::string PreferencesFilePath() {
    const std::string folder = UserFolder("XDG_CONFIG_HOME", "/.config/Korvel");
    if (folder.empty()) return {};
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder + "/com.korvel.prefs";
}

void LoadPreferences(const PreferenceHomes& homes) {
    const std::string path = PreferencesFilePath();
    std::string text;
    if (path.empty() || !ReadWholeTextFile(path, text)) return;

    std::vector<PendingLibraryFolder> libraryEntries;
    ApplyPreferencesText(text, homes, libraryEntries);
    AppState& app = *homes.app;
    if (app.fontSizeAuto) SetFontSizePreset(app.activeFontPreset, app);

    // Merged before the save below, so that file already holds the folders.
    MergeLibraryEntries(libraryEntries, homes);

    std::vector<std::string>& recent = app.recentProjects;
    const auto vanished = [](const std::string& project) {
        std::error_code ec;
        // A file that cannot be looked at (a slow or locked share) stays.
        return !fs::exists(project, ec) && !ec;
    };
    const auto kept = std::remove_if(recent.begin(), recent.end(), vanished);
    if (kept != recent.end()) {
        recent.erase(kept, recent.end());
        SavePrefs(homes);
    }
    if (!recent.empty()) app.recentMenuDirty = true;

    // Both act on the project when turned on: never at start-up.
    app.destructiveEQ = false;
    app.showSpectralHeatmap = false;

    PublishReverbSettings(*homes.engine);
}

namespace {

// Whether the last save failed: a run of failing saves is reported once, the
// next failure after a good save again. UI thread only.
bool LastPrefsSaveFailed = false;

}  // namespace

void SavePrefs(const PreferenceHomes& homes) {
    const std::string path = PreferencesFilePath();
    if (path.empty()) return;
    const std::string tempPath = WriteTempFileBeside(path, FormatPreferences(homes));
    std::error_code error;
    if (!tempPath.empty() && CommitTempFile(tempPath, path, error)) {
        LastPrefsSaveFailed = false;
        return;
    }
    if (LastPrefsSaveFailed) return;
    LastPrefsSaveFailed = true;
    std::printf("[SavePrefs] Could not write %s: %s\n", path.c_str(),
                error ? error.message().c_str() : "the temporary file could not be written");
    std::fflush(stdout);
    homes.app->statusMessage = kPrefsSaveFailedStatus;
    homes.app->statusTime = 5.0f;
}

}  // namespace korvel
