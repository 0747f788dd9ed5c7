// The events list drawn in a real window on the virtual display (Mesa's
// software OpenGL), read back from the frame the window presents.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>

#include "app/theme.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/window_frame.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

using test::Blend;
using test::Distance;
using test::Rgb;
using test::Unpack;

class EventListWindowTest : public test::WindowFrameTest {
protected:
    // The list's scrolled child in the frame last drawn.
    const ImGuiWindow* Scroll() const {
        for (const ImGuiWindow* w : ImGui::GetCurrentContext()->Windows)
            if (std::strstr(w->Name, "##evscroll") != nullptr && w->WasActive) return w;
        return nullptr;
    }
};

// Rows sit on the list's bar colour: a selected row takes the accent at
// alpha 45, the others the hover surface, fainter while something is
// selected.
TEST_F(EventListWindowTest, SelectedRowReadBack) {
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
    p.events = {test::MakeEvent(1.0f, 2.0f), test::MakeEvent(5.0f, 2.0f)};
    s.activeTab = 0;
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    s.scrollToSelection = false;
    Draw();
    const ImGuiWindow* w = Scroll();
    ASSERT_NE(w, nullptr);
    const float x = w->Pos.x + w->Size.x * 0.5f;
    const Rgb bar = Unpack(ThemePalette.barBg);
    const Rgb first = At(x, w->Pos.y + 3.0f);
    const Rgb expected = Blend(bar, Unpack(ThemePalette.accent), 45);
    if ((ThemePalette.barBg >> 24) == 0xFF && (ThemePalette.accent >> 24) == 0xFF) {
        EXPECT_LE(Distance(first, expected), 6) << "the selected row's fill";
    }
    // Down through the first row to the gap of bar colour, then to the
    // second row's top.
    float second = w->Pos.y + 3.0f;
    const float limit = w->Pos.y + 200.0f;
    while (second < limit && Distance(At(x, second), bar) > 2) second += 1.0f;
    while (second < limit && Distance(At(x, second), bar) <= 2) second += 1.0f;
    ASSERT_LT(second, limit);
    const Rgb plain = At(x, second + 3.0f);
    EXPECT_GT(Distance(first, plain), 10) << "the selected row stands out";

    s.selectedEvents.clear();
    s.selectedEvent = -1;
    Draw();
    const Rgb none = At(x, w->Pos.y + 3.0f);
    EXPECT_GT(Distance(none, bar), Distance(plain, bar)) << "rows are stronger while nothing is selected";
}

}  // namespace
}  // namespace korvel
