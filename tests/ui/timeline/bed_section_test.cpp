// The Bed's section of the inspector headless: moving list entries, the
// drag that reorders layers with its drop gaps, the layer menu's loop,
// remove, replace and reveal with short parallel lists and a fake
// open-file hook, missing files, and the add button.
#include "ui/timeline/bed_section.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "inspector_fixture.h"
#include "library/file_id.h"
#include "library/library.h"
#include "presets/recipes.h"
#include "project/event_editing.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using Names = std::vector<std::string>;

TEST(BedLists, MoveListItem) {
    struct Case {
        const char* name;
        std::size_t from, to;
        Names result;
    };
    const Case cases[] = {
        {"down", 0, 2, {"b", "c", "a", "d"}},
        {"up", 3, 0, {"d", "a", "b", "c"}},
        {"a target past the end appends", 1, 10, {"a", "c", "d", "b"}},
        {"onto itself", 2, 2, {"a", "b", "c", "d"}},
        {"a source past the end does nothing", 4, 0, {"a", "b", "c", "d"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Names list = {"a", "b", "c", "d"};
        MoveListItem(list, c.from, c.to);
        EXPECT_EQ(list, c.result);
    }
    // Lists of bytes and floats shorter than the target.
    std::vector<std::uint8_t> loops = {1, 0};
    MoveListItem(loops, 0, 3);
    EXPECT_EQ(loops, (std::vector<std::uint8_t>{0, 1}));
    std::vector<float> weights;
    MoveListItem(weights, 0, 0);
    EXPECT_TRUE(weights.empty());
}

TEST(BedLists, ChannelCountName) {
    struct Case {
        std::int32_t channels;
        const char* name;
    };
    for (const Case& c : {Case{1, "mono"}, Case{2, "stereo"}, Case{3, "multi"}, Case{4, "quad"}, Case{6, "5.1"},
                          Case{8, "7.1"}, Case{12, "multi"}, Case{0, "?"}, Case{-1, "?"}}) {
        EXPECT_STREQ(ChannelCountName(c.channels), c.name) << c.channels;
    }
}

// Rows 20 high from y = 100: the gap nearest the pointer.
TEST(BedLists, DropIndex) {
    struct Case {
        float pointerY, scrollY;
        std::int32_t drop;
    };
    for (const Case& c : {Case{100.0f, 0.0f, 0}, Case{109.0f, 0.0f, 0}, Case{111.0f, 0.0f, 1}, Case{165.0f, 0.0f, 3},
                          Case{500.0f, 0.0f, 3}, Case{20.0f, 0.0f, 0}, Case{100.0f, 20.0f, 1}}) {
        EXPECT_EQ(BedDropIndex(c.pointerY, 100.0f, c.scrollY, 20.0f, 3), c.drop) << c.pointerY << " " << c.scrollY;
    }
}

class BedSectionTest : public test::InspectorFixture {
protected:
    void TearDown() override {
        s.platformHooks.openFileDialog = nullptr;
        s.platformHooks.revealInExplorer = nullptr;
        s.audioUpdateRequested.store(false);
        SoundLibrary.palettes.clear();
        test::InspectorFixture::TearDown();
    }
    // Files of different frequencies differ in content, so in identity.
    std::string SoundFile(const std::string& name, double frequency = 220.0) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(frequency, 0.5, 48000), 1, 48000));
        return path;
    }
    // A Bed of `files` (with the parallel lists as given) selected alone.
    Event& OneBed(const Names& files, const Names& ids = {}, const std::vector<std::uint8_t>& loops = {},
                  const std::vector<float>& weights = {}) {
        Event bed = test::MakeEvent(2, 8, 0, EventKind::Bed);
        bed.locked = true;
        bed.pinnedFiles = files;
        bed.pinnedFileIds = ids;
        bed.bedLayerLoop = loops;
        bed.bedLayerWeight = weights;
        p.events = {bed};
        p.results.clear();
        SelectOne(0);
        ClearUndoHistory();
        s.audioUpdateRequested.store(false);
        s.unsavedChanges = false;
        return p.events[0];
    }
    Names Files() const { return p.events[0].pinnedFiles; }
    // The undo step, the layout and the change mark every edit leaves.
    void ExpectEdited(bool edited) {
        EXPECT_EQ(UndoStack.size(), edited ? 1u : 0u);
        EXPECT_EQ(s.audioUpdateRequested.load(), edited);
        EXPECT_EQ(s.unsavedChanges, edited);
    }
    float RowHeight() const { return Fh() + 3.0f; }
    float RowY(int row) const { return SecondRowY() + static_cast<float>(row) * RowHeight() + Fh() * 0.5f; }
    float ListWidth() const { return m_.contentWidth - Fh() - m_.gap; }
    void Settle() {
        harness_.MoveMouse(2000.0f, 2000.0f);
        for (int i = 0; i < 30; ++i) Frame();
    }
    void OpenLayerMenu(int row) {
        ClickAt(m_.padding + ListWidth() - 0.85f * Fh() * 0.5f, RowY(row));
        Frame();
    }
    ImGuiWindow* Popup() {
        ImGuiContext& g = *ImGui::GetCurrentContext();
        return g.OpenPopupStack.empty() ? nullptr : g.OpenPopupStack.back().Window;
    }
    // Clicks the menu row that follows `items` rows and `separators`
    // separators (the panel style spaces items 6 apart inside 10 of padding).
    void ClickMenuRow(int items, int separators) {
        ImGuiWindow* w = Popup();
        ASSERT_NE(w, nullptr);
        const float fs = ImGui::GetFontSize();
        const float x = w->Pos.x + 20.0f;
        const float y = w->Pos.y + 10.0f + static_cast<float>(items) * (fs + 6.0f) +
                        static_cast<float>(separators) * 6.0f + fs * 0.5f;
        harness_.MoveMouse(x, y);
        Frame();
        frames_.Click(x, y, body());
        Frame();
    }

    test::TempDir dir_;
};

// Pressing a card and dragging it past the rows drops it in the gap nearest
// the pointer; the loop flag of a short list travels with its file.
TEST_F(BedSectionTest, DragToReorder) {
    struct Case {
        const char* name;
        int row;
        float rows;  // pointer movement in rows
        Names result;
    };
    const Case cases[] = {
        {"first below the last (drop 3)", 0, 2.6f, {"C:/b.wav", "C:/c.wav", "C:/a.wav"}},
        {"last above the first (drop 0)", 2, -2.4f, {"C:/c.wav", "C:/a.wav", "C:/b.wav"}},
        {"middle to the end", 1, 1.6f, {"C:/a.wav", "C:/c.wav", "C:/b.wav"}},
        {"its own gap below", 0, 0.3f, {"C:/a.wav", "C:/b.wav", "C:/c.wav"}},
        {"its own gap above", 1, -0.3f, {"C:/a.wav", "C:/b.wav", "C:/c.wav"}},
        {"a press without a move", 1, 0.0f, {"C:/a.wav", "C:/b.wav", "C:/c.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneBed({"C:/a.wav", "C:/b.wav", "C:/c.wav"}, {}, {1});
        Settle();
        Drag(m_.padding + 30.0f, RowY(c.row), 0.0f, c.rows * RowHeight());
        EXPECT_EQ(Files(), c.result);
        const bool moved = Files() != Names{"C:/a.wav", "C:/b.wav", "C:/c.wav"};
        ExpectEdited(moved);
        const auto a = static_cast<std::size_t>(std::find(c.result.begin(), c.result.end(), "C:/a.wav") -
                                                c.result.begin());
        if (moved) {
            ASSERT_EQ(p.events[0].bedLayerLoop.size(), 3u);
            EXPECT_EQ(p.events[0].bedLayerLoop[a], 1) << "a loops wherever it lands";
            EXPECT_EQ(p.events[0].pinnedFileIds.size(), 3u);
            EXPECT_EQ(p.events[0].bedLayerWeight, (std::vector<float>{-1.0f, -1.0f, -1.0f}));
        }
        EXPECT_EQ(BedDragState(), std::make_pair(-1, -1)) << "the drag ended";
    }
}

TEST_F(BedSectionTest, MoveRulesAndRefusals) {
    struct Case {
        const char* name;
        std::int32_t from, drop;
        Names result;
    };
    const Case cases[] = {
        {"0 to drop 3", 0, 3, {"a", "b", "c"}},  // result below is rotated
        {"0 on drop 0", 0, 0, {}},
        {"0 on drop 1", 0, 1, {}},
        {"2 on drop 0", 2, 0, {}},
        {"2 on drop 3", 2, 3, {}},
        {"no such layer", 3, 0, {}},
    };
    const Names expected[] = {{"b", "c", "a"}, {"a", "b", "c"}, {"a", "b", "c"}, {"c", "a", "b"}, {"a", "b", "c"},
                              {"a", "b", "c"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        OneBed({"a", "b", "c"});
        MoveBedLayer(s, p, 0, c.from, c.drop);
        EXPECT_EQ(Files(), expected[i]);
    }
    OneBed({"a", "b", "c"});
    s.backgroundJob.active.store(true);
    EXPECT_FALSE(MoveBedLayer(s, p, 0, 0, 3));
    s.backgroundJob.active.store(false);
    EXPECT_EQ(s.statusMessage, kBusyEditStatus);
    EXPECT_EQ(Files(), (Names{"a", "b", "c"}));
    ExpectEdited(false);
    p.events[0].shape = KindValue(EventKind::Fill);
    EXPECT_FALSE(MoveBedLayer(s, p, 0, 0, 3)) << "not a Bed";
}

// "Loop" on the last file of a bed whose loop list stops short grows the
// list with shuffles first.
TEST_F(BedSectionTest, LoopFromTheMenu) {
    OneBed({"C:/a.wav", "C:/b.wav", "C:/c.wav"}, {}, {1});
    OpenLayerMenu(2);
    ASSERT_NE(Popup(), nullptr);
    ClickMenuRow(0, 0);
    EXPECT_EQ(p.events[0].bedLayerLoop, (std::vector<std::uint8_t>{1, 0, 1}));
    ExpectEdited(true);
    EXPECT_EQ(Popup(), nullptr) << "the menu closed";

    ClearUndoHistory();
    EXPECT_TRUE(ToggleBedLayerLoop(s, p, 0, 0));
    EXPECT_EQ(p.events[0].bedLayerLoop, (std::vector<std::uint8_t>{0, 0, 1}));
    EXPECT_FALSE(ToggleBedLayerLoop(s, p, 0, 3)) << "no such layer";
}

// "Remove" erases the entry from every list long enough to hold it. The
// lists are compared as far as the files go, a missing entry standing for
// an empty identity, a shuffle and an unknown weight (laying the bed out
// may fill them in).
TEST_F(BedSectionTest, RemoveWithShortLists) {
    struct Case {
        const char* name;
        std::int32_t layer;
        Names files, ids;
        std::vector<std::uint8_t> loops;
        std::vector<float> weights;
    };
    const Case cases[] = {
        {"middle", 1, {"C:/a.wav", "C:/c.wav"}, {"00000000000000aa", ""}, {1, 0}, {-1.0f, -1.0f}},
        {"first", 0, {"C:/b.wav", "C:/c.wav"}, {"", ""}, {0, 0}, {-1.0f, -1.0f}},
        {"last", 2, {"C:/a.wav", "C:/b.wav"}, {"00000000000000aa", ""}, {1, 0}, {-1.0f, -1.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneBed({"C:/a.wav", "C:/b.wav", "C:/c.wav"}, {"00000000000000aa"}, {1, 0});
        OpenLayerMenu(c.layer);
        ClickMenuRow(2, 1);
        Event e = p.events[0];
        EXPECT_EQ(e.pinnedFiles, c.files);
        e.pinnedFileIds.resize(e.pinnedFiles.size());
        e.bedLayerLoop.resize(e.pinnedFiles.size(), 0);
        e.bedLayerWeight.resize(e.pinnedFiles.size(), -1.0f);
        EXPECT_EQ(e.pinnedFileIds, c.ids);
        EXPECT_EQ(e.bedLayerLoop, c.loops);
        EXPECT_EQ(e.bedLayerWeight, c.weights);
        ExpectEdited(true);
    }
}

// "Replace..." asks for a file and gives the layer its identity and
// brightness; a cancelled dialog keeps the file but has taken its step.
TEST_F(BedSectionTest, ReplaceSetsIdentityAndWeight) {
    const std::string rain = SoundFile("rain.wav");
    Palette palette;
    LibraryFile record;
    record.path = rain;
    record.brightness = 0.7f;
    palette.files = {record};
    SoundLibrary.palettes = {palette};
    struct Case {
        const char* name;
        bool hook;
        std::string chosen;
        bool edited;
    };
    const Case cases[] = {
        {"chosen", true, rain, true},
        {"cancelled", true, "", true},
        {"no hook", false, rain, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneBed({"C:/a.wav", "C:/b.wav"}, {}, {1, 1}, {0.2f});
        std::string title, extension;
        s.platformHooks.openFileDialog = nullptr;
        if (c.hook) {
            s.platformHooks.openFileDialog = [&](const std::string& t, const std::string& e) {
                title = t;
                extension = e;
                return c.chosen;
            };
        }
        OpenLayerMenu(1);
        ClickMenuRow(1, 1);
        if (c.hook) {
            EXPECT_EQ(title, "Replace Bed Layer");
            EXPECT_EQ(extension, "wav");
        }
        const Event& e = p.events[0];
        if (!c.chosen.empty() && c.hook) {
            EXPECT_EQ(e.pinnedFiles, (Names{"C:/a.wav", rain}));
            ASSERT_EQ(e.pinnedFileIds.size(), 2u);
            EXPECT_EQ(e.pinnedFileIds[1], ComputeFileId(rain).id);
            EXPECT_FALSE(e.pinnedFileIds[1].empty());
            EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{0.2f, 0.7f}));
        } else {
            EXPECT_EQ(e.pinnedFiles, (Names{"C:/a.wav", "C:/b.wav"}));
        }
        EXPECT_EQ(e.bedLayerLoop, (std::vector<std::uint8_t>{1, 1}));
        ExpectEdited(c.edited);
    }
}

// A file removed after it was added is flagged and cannot be revealed; it
// stays in the lists. A present file is revealed by its path.
TEST_F(BedSectionTest, MissingFilesAndReveal) {
    const std::string kept = SoundFile("kept.wav");
    const std::string removed = SoundFile("removed.wav", 330.0);
    OneBed({});
    ASSERT_EQ(AddBedLayerFiles(p, 0, {kept, removed, dir_.file("never.wav")}, &SoundLibrary.palettes), 3);
    std::filesystem::remove(removed);
    const Event& bed = p.events[0];
    EXPECT_FALSE(bed.pinnedFileIds[1].empty()) << "identified while it existed";
    EXPECT_TRUE(bed.pinnedFileIds[2].empty());
    EXPECT_FALSE(IsBedLayerMissing(bed, 0));
    EXPECT_TRUE(IsBedLayerMissing(bed, 1)) << "by its identity";
    EXPECT_TRUE(IsBedLayerMissing(bed, 2)) << "by its path";

    std::vector<std::string> revealed;
    s.platformHooks.revealInExplorer = [&](const std::string& path) { revealed.push_back(path); };
    for (int row : {0, 1, 2}) {
        SCOPED_TRACE(row);
        Settle();
        OpenLayerMenu(row);
        ClickMenuRow(3, 2);  // "Show in Explorer" when offered
        if (Popup() != nullptr) {
            harness_.MoveMouse(2000.0f, 2000.0f);
            frames_.Click(2000.0f, 2000.0f, body());  // closes the menu
        }
    }
    EXPECT_EQ(revealed, (Names{kept}));
    EXPECT_EQ(p.events[0].pinnedFiles.size(), 3u) << "missing files stay";
}

TEST_F(BedSectionTest, AddButton) {
    const std::string rain = SoundFile("rain.wav");
    struct Case {
        const char* name;
        bool hook;
        std::string chosen;
        std::size_t files;
    };
    const Case cases[] = {
        {"chosen", true, rain, 2},
        {"cancelled", true, "", 1},
        {"no hook", false, rain, 1},
        {"already listed", true, "C:/a.wav", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneBed({"C:/a.wav"});
        std::string title;
        s.platformHooks.openFileDialog = nullptr;
        if (c.hook) {
            s.platformHooks.openFileDialog = [&](const std::string& t, const std::string&) {
                title = t;
                return c.chosen;
            };
        }
        ClickAt(m_.padding + ListWidth() + m_.gap + Fh() * 0.5f, SecondRowY() + Fh() * 0.5f);
        EXPECT_EQ(title, c.hook ? "Add Bed Layer" : "");
        EXPECT_EQ(p.events[0].pinnedFiles.size(), c.files);
        EXPECT_EQ(UndoStack.size(), c.hook && !c.chosen.empty() ? 1u : 0u);
    }
}

// Every state of the list draws: empty, long and non-ASCII names, missing
// files, looping layers, more rows than fit, a muted bed.
TEST_F(BedSectionTest, DrawsEveryState) {
    const std::string named = SoundFile("Regen_auf_dem_Dach_mit_sehr_langem_Namen_\xc3\xa4\xc3\xb6\xc3\xbc.wav");
    Names many(40, named);
    for (const Names& files : {Names{}, Names{named, "C:/gone.wav"}, many}) {
        for (bool muted : {false, true}) {
            OneBed(files, {}, {1, 0, 1}, {0.3f});
            p.events[0].muted = muted;
            harness_.MoveMouse(m_.padding + 30.0f, RowY(0));
            Frame();
            Frame();
            IdleFrame();
            EXPECT_EQ(Files(), files);
        }
    }
}

}  // namespace
}  // namespace korvel
