#include "ui/panels/palette_filter_picker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/library.h"
#include "panels_fixture.h"

namespace korvel {
namespace {

using test::PanelFrames;
using test::UiHarness;

Palette MakePalette(const std::string& name, int files, bool enabled = true, bool missing = false) {
    Palette p;
    p.name = name;
    p.files.resize(static_cast<size_t>(files));
    p.enabled = enabled;
    p.folderMissing = missing;
    return p;
}

// Foley, Doors and Rain are listed; Door is disabled and Wind's folder is
// missing, so neither is offered nor written.
void FillLibrary(Library& library) {
    library.palettes.clear();
    library.palettes.push_back(MakePalette("Foley", 3));
    library.palettes.push_back(MakePalette("Door", 2, false));
    library.palettes.push_back(MakePalette("Doors", 4));
    library.palettes.push_back(MakePalette("Wind", 1, true, true));
    library.palettes.push_back(MakePalette("Rain", 5));
}

TEST(PaletteFilter, ReadsItemsAndTicks) {
    struct Case {
        const char* filter;
        const char* name;
        bool ticked;
    };
    const Case cases[] = {
        {"", "Foley", true},
        {"~none~", "Foley", false},
        {" Foley ,,Doors", "Foley", true},
        {" Foley ,,Doors", "Doors", true},
        {" Foley ,,Doors", "Door", false},
        {"Foley,Doors", "Rain", false},
        {",,", "Rain", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " / " + c.name);
        EXPECT_EQ(PaletteFilterTicks(c.filter, c.name), c.ticked);
    }
}

TEST(PaletteFilter, CheckboxChangeRewritesTheList) {
    Library library;
    FillLibrary(library);
    struct Case {
        const char* name;
        const char* filter;
        int changed;
        bool ticked;
        int capacity;
        const char* expected;
    };
    const Case cases[] = {
        {"untick one of three", "", 2, false, 512, "Foley,Rain"},
        {"tick the last unticked", "Foley,Rain", 2, true, 512, ""},
        {"untick the last ticked", "Doors", 2, false, 512, ""},
        {"tick one under none", "~none~", 4, true, 512, "Rain"},
        {"spaces and empty items", " Foley ,,Doors", 4, false, 512, "Foley,Doors"},
        {"gone names dropped", "Gone,Door,Foley", 2, true, 512, "Foley,Doors"},
        // Cutting "Foley,Doors" at ten characters would name Door.
        {"whole names only", "", 4, false, 11, "Foley"},
        {"a later name that fits", "", 0, false, 11, "Doors,Rain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RebuildPaletteFilter(library, c.filter, c.changed, c.ticked, c.capacity).text, c.expected);
    }
}

TEST(PaletteFilter, CheckboxLabels) {
    EXPECT_EQ(PaletteCheckboxLabel("Foley", 999), "Foley  (999)");
    EXPECT_EQ(PaletteCheckboxLabel("Foley", 1000), "Foley  (1.0k)");
    EXPECT_EQ(PaletteCheckboxLabel("Foley", 12345), "Foley  (12.3k)");
}

class PickerFrames : public ::testing::Test {
protected:
    void SetUp() override { FillLibrary(library_); }
    void Body() {
        changed_ = DrawPaletteFilterPicker("##libfilterpanel", filter_, sizeof filter_, library_, 24.0f, 8000);
        chipMin_ = ImGui::GetItemRectMin();
        popupOpen_ = ImGui::IsPopupOpen("##libfilterpanel");
    }
    std::function<void()> body() {
        return [this] { Body(); };
    }

    UiHarness harness_;
    PanelFrames frames_{harness_};
    Library library_;
    char filter_[512] = "Foley";
    bool changed_ = false;
    bool popupOpen_ = false;
    ImVec2 chipMin_;
};

TEST_F(PickerFrames, RightClickClearsWithoutOpening) {
    frames_.Run(body());
    harness_.MoveMouse(chipMin_.x + 5.0f, chipMin_.y + 5.0f);
    harness_.SetMouseButton(1, true);
    frames_.Run(body());
    EXPECT_TRUE(changed_);
    EXPECT_STREQ(filter_, "");
    harness_.SetMouseButton(1, false);
    frames_.Run(body());
    EXPECT_FALSE(changed_);
    EXPECT_FALSE(popupOpen_);
}

TEST_F(PickerFrames, ChipOpensThePopupAndNoneWritesNone) {
    frames_.Run(body());
    frames_.Click(chipMin_.x + 5.0f, chipMin_.y + 5.0f, body());
    frames_.Run(body());  // an auto-sized popup takes its size in its first frame
    ASSERT_TRUE(popupOpen_);
    EXPECT_STREQ(filter_, "Foley");
    // "None" ends 12 px before the popup's right edge, on the title line.
    ImGuiWindow* popup = ImGui::GetCurrentContext()->OpenPopupStack.back().Window;
    ASSERT_NE(popup, nullptr);
    const float x = popup->Pos.x + popup->Size.x - 12.0f - 6.0f;
    const float y = popup->Pos.y + ImGui::GetStyle().WindowPadding.y + 8.0f;
    harness_.MoveMouse(x, y);
    harness_.SetMouseButton(0, true);
    frames_.Run(body());
    harness_.SetMouseButton(0, false);
    frames_.Run(body());
    EXPECT_STREQ(filter_, "~none~");
}

}  // namespace
}  // namespace korvel
