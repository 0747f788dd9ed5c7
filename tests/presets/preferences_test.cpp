#include "presets/preferences.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/theme.h"
#include "playback/mixer_publishing.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// The file every default setting gives, in the writer's key order.
const char* const kDefaultFile =
    "handleDuration=1.00\n"
    "handleFullSource=0\n"
    "fadeInDuration=0.010\n"
    "fadeOutDuration=0.050\n"
    "exportAAFMarkers=0\n"
    "exportAAFVolAuto=1\n"
    "exportAAFSourceChannels=1\n"
    "exportFormatAAF=1\n"
    "exportFormatWAV=1\n"
    "exportWavMixdown=1\n"
    "exportWavStems=0\n"
    "exportWavLayout=0\n"
    "exportWavLUFSIndex=0\n"
    "exportSpatialMode=0\n"
    "spatialAmount=0.0000\n"
    "exportWavTracks=0\n"
    "exportWavClips=0\n"
    "exportReverbStem=1\n"
    "projectSampleRate=48000\n"
    "maxEventDuration=30.0\n"
    "protectSilence=1\n"
    "destructiveEQ=0\n"
    "chainsImportAsGroup=1\n"
    "channelOrderFallback=0\n"
    "showSpectralHeatmap=0\n"
    "scaleType=0\n"
    "scaleRoot=0\n"
    "pitchShiftProb=0\n"
    "freqShiftIntensity=0\n"
    "reverseProb=0\n"
    "fontSizePreset=1\n"
    "fontSizeAuto=1\n"
    "boldFonts=1\n"
    "theme=0\n"
    "colorByWeight=1\n"
    "showAdvancedInspector=0\n"
    "lastIntensityMode=0\n"
    "autoSaveEnabled=1\n"
    "audioFocusLatched=0\n"
    "autoSaveInterval=300\n"
    "maxBackups=5\n"
    "weightColorLow=#440154\n"
    "weightColorMid=#21918C\n"
    "weightColorHigh=#FDE725\n"
    "reverbEnabled=1\n"
    "reverbSize=0.500\n"
    "reverbDecay=0.500\n"
    "reverbDamping=0.300\n"
    "reverbPreDelay=0.0150\n"
    "reverbDiffusion=0.700\n"
    "reverbModulation=0.500\n"
    "reverbMacro=0.650\n"
    "reverbSend0=0.200\n"
    "reverbSend1=0.200\n"
    "reverbSend2=0.200\n"
    "tm_valid=0\n"
    "showLauncherOnStartup=1\n"
    "updateCheckEnabled=1\n"
    "lastUpdateCheck=0\n";

// A literal with the NULs inside it.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// The default file with the lines of the given keys replaced.
std::string DefaultFileWith(const std::vector<std::string>& lines) {
    std::string text = std::string("\n") + kDefaultFile;  // every line follows a line feed
    for (const std::string& line : lines) {
        const std::string key = line.substr(0, line.find('=') + 1);
        const std::size_t at = text.find("\n" + key);
        EXPECT_NE(at, std::string::npos) << key;
        if (at == std::string::npos) continue;
        const std::size_t end = text.find('\n', at + 1);
        text.replace(at + 1, end - at - 1, line);
    }
    return text.substr(1);
}

// Fresh settings records, the preferences folder in a temporary folder, and
// the process-wide look back at its defaults afterwards.
class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
        homes_ = {app_.get(), project_.get(), engine_.get(), library_.get(), &pending_};
        ResetLook();
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name, value->c_str(), 1);
            else unsetenv(name);
        }
        ResetLook();
    }
    static void ResetLook() {
        ThemeIndex = 0;
        WeightColorLow = PackOpaqueRgb(0x44, 0x01, 0x54);
        WeightColorMid = PackOpaqueRgb(0x21, 0x91, 0x8C);
        WeightColorHigh = PackOpaqueRgb(0xFD, 0xE7, 0x25);
        ShellThemeHooks = {};
    }

    std::string PrefsPath() const { return (dir_.path() / "Korvel" / "com.korvel.prefs").string(); }
    void WriteFile(const std::string& text) { ASSERT_TRUE(test::WriteBytes(PrefsPath(), text)); }
    std::string FileText() const { return test::ReadBytes(PrefsPath()); }

    // Reads `text` as a file's lines into fresh records and writes them back.
    std::string ReadBack(const std::string& text) {
        std::vector<PendingLibraryFolder> library;
        ApplyPreferencesText(text, homes_, library);
        return FormatPreferences(homes_);
    }

    Palette& AddPalette(const std::string& folder) {
        Palette palette;
        palette.folder = folder;
        palette.name = fs::path(folder).filename().string();
        library_->palettes.push_back(palette);
        return library_->palettes.back();
    }

    test::TempDir dir_;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
    std::unique_ptr<AppState> app_ = std::make_unique<AppState>();
    std::unique_ptr<Project> project_ = std::make_unique<Project>();
    std::unique_ptr<PlaybackEngine> engine_ = std::make_unique<PlaybackEngine>();
    std::unique_ptr<Library> library_ = std::make_unique<Library>();
    std::vector<PendingLibraryFolder> pending_;
    PreferenceHomes homes_;
};

TEST_F(PreferencesTest, DefaultsAreWrittenInKeyOrderWithNoTemporaryFileLeft) {
    SavePrefs(homes_);
    EXPECT_EQ(FileText(), kDefaultFile);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path() / "Korvel"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"com.korvel.prefs"});
}

TEST_F(PreferencesTest, ValuesAreClampedOrIgnoredKeyByKey) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> written;  // lines that differ from the defaults
    };
    const Case cases[] = {
        {"theme above range", "theme=9\n", {"theme=6"}},
        {"float below range", "handleDuration=0\n", {"handleDuration=0.01"}},
        {"backups below one", "maxBackups=0\n", {"maxBackups=1"}},
        {"backups above fifty", "maxBackups=75\n", {"maxBackups=50"}},
        {"auto-save interval", "autoSaveInterval=5\n", {"autoSaveInterval=30"}},
        {"pre-delay", "reverbPreDelay=1\n", {"reverbPreDelay=0.2000"}},
        {"rate not offered", "projectSampleRate=22050\n", {}},
        {"rate offered", "projectSampleRate=96000\n", {"projectSampleRate=96000"}},
        {"colour either case", "weightColorLow=#ff8000\n", {"weightColorLow=#FF8000"}},
        {"colour without #", "weightColorMid=ff8000\n", {}},
        {"colour not hexadecimal", "weightColorHigh=#zz8000\n", {}},
        {"unknown colour key", "weightColorFoo=#ff8000\n", {}},
        {"blanks around =", "handleDuration = 2\n", {}},
        {"no number reads as 0", "reverbSize=abc\n", {"reverbSize=0.000"}},
        {"nan reads as 0", "reverbDecay=nan\nfadeInDuration=NAN\n", {"reverbDecay=0.000", "fadeInDuration=0.000"}},
        {"infinity is clamped", "reverbDamping=inf\n", {"reverbDamping=1.000"}},
        {"huge integer saturates", "exportWavLayout=99999999999999999999\nscaleRoot=-99999999999\n",
         {"exportWavLayout=3", "scaleRoot=0"}},
        {"integer with trailing text", "scaleType=12abc\n", {"scaleType=12"}},
        {"any non-zero is true", "handleFullSource=2\nexportAAFVolAuto=yes\n",
         {"handleFullSource=1", "exportAAFVolAuto=0"}},
        {"project keys", "maxEventDuration=0\nreverseProb=101\n", {"maxEventDuration=0.1", "reverseProb=100"}},
        {"channel order", "channelOrderFallback=-1\n", {"channelOrderFallback=0"}},
        {"update time is not clamped", "lastUpdateCheck=-5\n", {"lastUpdateCheck=-5"}},
        {"last of a repeated key wins", "theme=2\ntheme=3\n", {"theme=3"}},
        {"retired and unknown keys, lines without =", "maxLayersPerEvent=4\nnoSuchKey=1\ntheme\n=5\n", {}},
        {"line ended by CR LF", "theme=3\r\nmaxBackups=7\r\n", {"theme=3", "maxBackups=7"}},
        {"a NUL ends the line", Bytes("theme=4\0junk\nthe\0me=5\n"), {"theme=4"}},
        {"no final line feed", "maxBackups=9", {"maxBackups=9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app_ = std::make_unique<AppState>();
        project_ = std::make_unique<Project>();
        engine_ = std::make_unique<PlaybackEngine>();
        homes_ = {app_.get(), project_.get(), engine_.get(), library_.get(), &pending_};
        ResetLook();
        EXPECT_EQ(ReadBack(c.text), DefaultFileWith(c.written));
    }
}

TEST_F(PreferencesTest, NumbersIgnoreTheThreadLocale) {
    locale_t comma = static_cast<locale_t>(nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        comma = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
        if (comma) break;
    }
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";
    locale_t previous = uselocale(comma);
    const std::string text = ReadBack("reverbSize=0.25\n");
    uselocale(previous);
    freelocale(comma);
    EXPECT_EQ(text, DefaultFileWith({"reverbSize=0.250"}));
}

TEST_F(PreferencesTest, ThemeAndFontKeysCallTheShellAsTheyAreRead) {
    static std::vector<std::int32_t> filled;
    static int applied = 0;
    filled.clear();
    applied = 0;
    ShellThemeHooks.fillPalette = [](std::int32_t index) { filled.push_back(index); };
    ShellThemeHooks.applyTheme = [] { ++applied; };
    WriteFile("theme=9\nfontSizePreset=2\nfontSizeAuto=0\n");
    LoadPreferences(homes_);
    EXPECT_EQ(ThemeIndex, 6);
    EXPECT_EQ(filled, std::vector<std::int32_t>{6});
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(app_->fontSizePreset, 2) << "without the automatic choice the file's preset holds";

    // With it, the automatic preset replaces the file's at the end of loading.
    auto app = std::make_unique<AppState>();
    app->activeFontPreset = 0;
    homes_.app = app.get();
    WriteFile("fontSizePreset=2\nfontSizeAuto=1\n");
    LoadPreferences(homes_);
    EXPECT_EQ(app->fontSizePreset, 0);
    EXPECT_NE(FileText().find("fontSizePreset=2\n"), std::string::npos) << "loading alone does not save";
}

TEST_F(PreferencesTest, LoadingTurnsTheRiskyFlagsOffAndHandsTheReverbToTheMixer) {
    WriteFile("destructiveEQ=1\nshowSpectralHeatmap=1\nreverbSize=0.9\nreverbSend1=0.4\nreverbEnabled=0\n");
    LoadPreferences(homes_);
    EXPECT_FALSE(app_->destructiveEQ);
    EXPECT_FALSE(app_->showSpectralHeatmap);
    EXPECT_FLOAT_EQ(engine_->reverb.size, 0.9f);

    ASSERT_TRUE(ApplyPendingReverbChanges(*engine_));
    EXPECT_FLOAT_EQ(engine_->mixReverb.size, 0.9f);
    EXPECT_FLOAT_EQ(engine_->mixReverb.groupSends[1], 0.4f);
    EXPECT_FALSE(engine_->mixReverb.enabled);
}

TEST_F(PreferencesTest, MissingFileOrFolderVariablesChangeNothing) {
    LoadPreferences(homes_);
    EXPECT_EQ(FormatPreferences(homes_), kDefaultFile);
    EXPECT_FALSE(fs::exists(PrefsPath())) << "loading never creates the file";

    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    EXPECT_EQ(PreferencesFilePath(), "");
    SavePrefs(homes_);
    LoadPreferences(homes_);
    EXPECT_FALSE(fs::exists(PrefsPath()));
}

TEST_F(PreferencesTest, AFailedSaveLeavesNoTemporaryFileAndIsSaidOnce) {
    SavePrefs(homes_);  // a good save first: the failures below are new
    fs::remove(PrefsPath());
    // A folder in the file's place: the move over it fails.
    fs::create_directories(fs::path(PrefsPath()) / "inside");
    testing::internal::CaptureStdout();
    SavePrefs(homes_);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.rfind("[SavePrefs] Could not write " + PrefsPath() + ": ", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(app_->statusMessage, kPrefsSaveFailedStatus);
    EXPECT_GT(app_->statusTime, 0.0f);
    EXPECT_TRUE(fs::is_directory(fs::path(PrefsPath()) / "inside"));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_.path() / "Korvel")) ++entries;
    EXPECT_EQ(entries, 1);

    // The same failure again is not said again; after a good save, a new one is.
    app_->statusMessage.clear();
    testing::internal::CaptureStdout();
    SavePrefs(homes_);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(app_->statusMessage, "");
    fs::remove_all(PrefsPath());
    SavePrefs(homes_);
    fs::remove(PrefsPath());
    fs::create_directories(fs::path(PrefsPath()) / "inside");
    testing::internal::CaptureStdout();
    SavePrefs(homes_);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(app_->statusMessage, kPrefsSaveFailedStatus);
}

TEST_F(PreferencesTest, LibraryValuesSplitAtTheirLastTwoBars) {
    struct Case {
        const char* value;
        std::string path;
        bool enabled;
        std::int32_t group;
    };
    const Case cases[] = {
        {"/SFX/Rain|0|2", "/SFX/Rain", false, 2},
        {"/SFX/Rain", "/SFX/Rain", true, -1},
        {"/SFX/Rain|0", "/SFX/Rain", true, -1},
        {"/SFX/a|b|1|1", "/SFX/a|b", true, 1},
        {"/SFX/a|b|c|0|-1", "/SFX/a|b|c", false, -1},
        {"/SFX/Rain|5|1", "/SFX/Rain", true, 1},
        {"/SFX/Rain|1|7", "/SFX/Rain", true, -1},
        {"/SFX/Rain||", "/SFX/Rain", false, 0},
        {"|1|2", "", true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const PendingLibraryFolder entry = ParseLibraryExValue(c.value);
        EXPECT_EQ(entry.path, c.path);
        EXPECT_EQ(entry.enabled, c.enabled);
        EXPECT_EQ(entry.trackGroup, c.group);
    }
}

TEST_F(PreferencesTest, LibraryLinesUpdatePalettesOrBecomePendingFolders) {
    AddPalette("/SFX/Rain");
    AddPalette("/SFX/Wind").trackGroup = 1;
    WriteFile(
        "libraryEx=/SFX/Rain|0|2\n"
        "library=/SFX/Wind\n"
        "libraryEx=/SFX/New|0|2\n"
        "library=/SFX/Old\n"
        "libraryEx=/SFX/New|1|1\n");
    LoadPreferences(homes_);
    EXPECT_FALSE(library_->palettes[0].enabled);
    EXPECT_EQ(library_->palettes[0].trackGroup, 2);
    EXPECT_TRUE(library_->palettes[1].enabled);
    EXPECT_EQ(library_->palettes[1].trackGroup, -1);
    ASSERT_EQ(pending_.size(), 2u);
    EXPECT_EQ(pending_[0].path, "/SFX/New");
    EXPECT_TRUE(pending_[0].enabled) << "the last line of a folder wins";
    EXPECT_EQ(pending_[0].trackGroup, 1);
    EXPECT_EQ(pending_[1].path, "/SFX/Old");
}

TEST_F(PreferencesTest, SavedSelectionsGetBackTheirOwnFlags) {
    AddPalette("");
    AddPalette("/SFX/Rain");
    AddPalette("").enabled = false;
    library_->palettes.back().trackGroup = 2;
    SavePrefs(homes_);
    for (Palette& palette : library_->palettes) {  // as the library cache loads them
        palette.enabled = true;
        palette.trackGroup = -1;
    }
    AddPalette("");  // a selection made since: no line of its own

    LoadPreferences(homes_);
    const std::vector<Palette>& palettes = library_->palettes;
    EXPECT_TRUE(palettes[0].enabled);
    EXPECT_EQ(palettes[0].trackGroup, -1);
    EXPECT_FALSE(palettes[2].enabled) << "the second selection's line is not given to the first";
    EXPECT_EQ(palettes[2].trackGroup, 2);
    EXPECT_TRUE(palettes[3].enabled);
    EXPECT_TRUE(pending_.empty());
}

TEST_F(PreferencesTest, PendingFoldersSurviveASaveAndALongLineIsReadWhole) {
    const std::string longFolder = "/SFX/" + std::string(5000, 'x');
    AddPalette("/SFX/Pal|ette").enabled = false;
    pending_ = {{"/SFX/Queued|1|2", false, 2}, {longFolder, true, 0}, {"/SFX/Bad\nfolder", true, -1}};
    SavePrefs(homes_);
    const std::string text = FileText();
    EXPECT_NE(text.find("\nlibraryEx=/SFX/Pal|ette|0|-1\nlibraryEx=/SFX/Queued|1|2|0|2\n"), std::string::npos);
    EXPECT_EQ(text.find("Bad"), std::string::npos) << "a folder that cannot be written is left out";

    Library empty;
    std::vector<PendingLibraryFolder> pending;
    PreferenceHomes fresh = homes_;
    fresh.library = &empty;
    fresh.pendingFolders = &pending;
    LoadPreferences(fresh);
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].path, "/SFX/Pal|ette");
    EXPECT_FALSE(pending[0].enabled);
    EXPECT_EQ(pending[1].path, "/SFX/Queued|1|2");
    EXPECT_FALSE(pending[1].enabled);
    EXPECT_EQ(pending[1].trackGroup, 2);
    EXPECT_EQ(pending[2].path, longFolder);
    EXPECT_EQ(pending[2].trackGroup, 0);
}

TEST_F(PreferencesTest, RecentProjectsKeepValidExistingEntriesInOrder) {
    const std::string a = dir_.file("a.kvproj");
    const std::string b = dir_.file("with\ttab.kvproj");
    ASSERT_TRUE(test::WriteBytes(a, "{}"));
    ASSERT_TRUE(test::WriteBytes(b, "{}"));
    std::string text;
    for (const std::string& line : {a, std::string("a.kvproj"), a, b, std::string("/gone/x.kvproj"),
                                    std::string("/bad\x01path.kvproj")})
        text += "recentProject=" + line + "\n";
    text += "libraryEx=/SFX/Unscanned|0|1\n";
    WriteFile(text);
    LoadPreferences(homes_);
    EXPECT_EQ(app_->recentProjects, (std::vector<std::string>{a, a, b}));
    EXPECT_TRUE(app_->recentMenuDirty);

    // The vanished project made loading rewrite the file, which already
    // holds the library folder that no scan has made a palette of yet.
    const std::string saved = FileText();
    EXPECT_EQ(saved.find("/gone/"), std::string::npos);
    EXPECT_NE(saved.find("recentProject=" + a + "\nrecentProject=" + a + "\nrecentProject=" + b + "\n"),
              std::string::npos);
    EXPECT_NE(saved.find("libraryEx=/SFX/Unscanned|0|1\n"), std::string::npos);

    // Twelve entries stay twelve: loading cuts nothing.
    std::string twelve;
    for (int i = 0; i < 12; ++i) twelve += "recentProject=" + a + "\n";
    auto app = std::make_unique<AppState>();
    homes_.app = app.get();
    WriteFile(twelve);
    LoadPreferences(homes_);
    EXPECT_EQ(app->recentProjects.size(), 12u);
}

TEST_F(PreferencesTest, InvalidRecentProjectsAreSkippedWhenWriting) {
    app_->recentProjects = {"/p/one.kvproj", "no-separator.kvproj", "", "/p/line\nfeed.kvproj", "C:\\p\\two.kvproj"};
    testing::internal::CaptureStdout();
    const std::string text = FormatPreferences(homes_);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[SavePrefs] Skipping corrupted recent project entry 3\n");
    EXPECT_NE(text.find("\nrecentProject=/p/one.kvproj\nrecentProject=C:\\p\\two.kvproj\n"), std::string::npos);
    EXPECT_EQ(text.find("no-separator"), std::string::npos);
    EXPECT_EQ(text.find("feed"), std::string::npos);
}

TEST_F(PreferencesTest, UpdateTextsAreWrittenOnlyWhileAnUpdateIsKnown) {
    EXPECT_EQ(ReadBack("updateAvailableNote=first\nupdateAvailableNote=second\n"),
              std::string(kDefaultFile) +
                  "updateAvailableVersion=\nupdateAvailableNote=first\nupdateAvailableNote=second\n");
    EXPECT_TRUE(app_->updateInfo.updateAvailable);
    EXPECT_EQ(app_->updateInfo.version, "");

    // The first update line of a file replaces what the record held.
    app_->updateInfo = {};
    app_->updateInfo.updateAvailable = false;
    app_->updateInfo.notes = {"stale"};
    app_->updateInfo.url = "https://old";
    std::vector<PendingLibraryFolder> library;
    ApplyPreferencesText("updateAvailableVersion=2.0\nupdateAvailableDate=2026-12-01\n", homes_, library);
    EXPECT_EQ(app_->updateInfo.notes, std::vector<std::string>{});
    EXPECT_EQ(FormatPreferences(homes_),
              std::string(kDefaultFile) + "updateAvailableVersion=2.0\nupdateAvailableDate=2026-12-01\n");

    app_->updateInfo.updateAvailable = false;
    EXPECT_EQ(FormatPreferences(homes_), kDefaultFile) << "texts of no update are not written";
}

TEST_F(PreferencesTest, LineBreaksInsideTextsNeverBecomeKeys) {
    app_->dismissedUpdateVersion = "1.0\ntheme=5";
    app_->updateInfo.updateAvailable = true;
    app_->updateInfo.version = "2.0\r\nmaxBackups=50";
    app_->updateInfo.notes = {Bytes("fix\0recentProject=/etc/passwd"), "\r"};
    app_->updateInfo.url = "\n";
    SavePrefs(homes_);

    auto app = std::make_unique<AppState>();
    homes_.app = app.get();
    LoadPreferences(homes_);
    EXPECT_EQ(ThemeIndex, 0);
    EXPECT_EQ(app->maxBackups, 5);
    EXPECT_TRUE(app->recentProjects.empty());
    EXPECT_EQ(app->dismissedUpdateVersion, "1.0theme=5");
    EXPECT_EQ(app->updateInfo.version, "2.0maxBackups=50");
    EXPECT_EQ(app->updateInfo.notes, (std::vector<std::string>{"fixrecentProject=/etc/passwd", ""}));
    EXPECT_EQ(FileText().find("updateAvailablePageUrl"), std::string::npos) << "empty once cleaned";
}

TEST_F(PreferencesTest, TraceModelLinesFollowItsValidFlag) {
    TraceModel& model = app_->traceAnalysis.model;
    const std::string invalid = FormatPreferences(homes_);
    EXPECT_EQ(invalid.find("tm_", invalid.find("tm_valid=0\n") + 1), std::string::npos);

    model.valid = true;
    model.totalSpots = 7;
    model.w = {0.5f, 0.25f, 0.125f, 0.0f, -1.0f};
    model.negMean[4] = 3.0f;
    const std::string valid = FormatPreferences(homes_);
    const std::size_t from = valid.find("tm_valid=1\n");
    const std::size_t to = valid.find("showLauncherOnStartup=");
    ASSERT_NE(from, std::string::npos);
    EXPECT_EQ(valid.substr(from, to - from),
              "tm_valid=1\ntm_totalSpots=7\n"
              "tm_w0=0.500000\ntm_w1=0.250000\ntm_w2=0.125000\ntm_w3=0.000000\ntm_w4=-1.000000\n"
              "tm_defaultCompositeMean=0.000000\ntm_thresholdScale=1.000000\ntm_subtleScale=0.450000\n"
              "tm_spotCutoff=0.500000\ntm_gainA=0.850000\ntm_gainB=0.150000\ntm_weightBias=0.000000\n"
              "tm_spotDurScale=1.000000\ntm_sweepDurScale=1.000000\ntm_minGap=0.500000\n"
              "tm_posCount=0\n"
              "tm_posMean0=0.000000\ntm_posMean1=0.000000\ntm_posMean2=0.000000\ntm_posMean3=0.000000\n"
              "tm_posMean4=0.000000\n"
              "tm_negCount=0\n"
              "tm_negMean0=0.000000\ntm_negMean1=0.000000\ntm_negMean2=0.000000\ntm_negMean3=0.000000\n"
              "tm_negMean4=3.000000\n");

    // Read whenever they appear; a value that is not a finite float is not
    // taken, and a negative count becomes 0.
    auto app = std::make_unique<AppState>();
    app->traceAnalysis.model.w[2] = 0.7f;
    homes_.app = app.get();
    std::vector<PendingLibraryFolder> library;
    ApplyPreferencesText("tm_gainA=0.25\ntm_w0=nan\ntm_w1=inf\ntm_w2=1e60\ntm_w3=abc\ntm_posCount=-3\n", homes_,
                         library);
    const TraceModel& read = app->traceAnalysis.model;
    EXPECT_FALSE(read.valid);
    EXPECT_FLOAT_EQ(read.gainA, 0.25f);
    EXPECT_FLOAT_EQ(read.w[0], 0.6f);
    EXPECT_FLOAT_EQ(read.w[1], 0.4f);
    EXPECT_FLOAT_EQ(read.w[2], 0.7f) << "beyond a float's range";
    EXPECT_FLOAT_EQ(read.w[3], 0.0f) << "text that is no number reads as 0, which is finite";
    EXPECT_EQ(read.posCount, 0);
}

}  // namespace
}  // namespace korvel
