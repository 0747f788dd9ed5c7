#include "app/shell.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "library/library.h"

namespace korvel {
namespace {

// Each case turns on one reason to keep drawing; with none the loop sleeps.
TEST(MainLoop, BusyWhileAnythingMoves) {
    struct Case {
        const char* name;
        std::function<void(AppState&, Library&, LoopInputState&)> set;
    };
    const Case cases[] = {
        {"playback", [](AppState& s, Library&, LoopInputState&) { s.playing = true; }},
        {"background job", [](AppState& s, Library&, LoopInputState&) { s.backgroundJob.active.store(true); }},
        {"picture analysis", [](AppState& s, Library&, LoopInputState&) { s.traceRunning.store(true); }},
        {"animation", [](AppState& s, Library&, LoopInputState&) { s.windowChrome.animating = true; }},
        {"status counting down", [](AppState& s, Library&, LoopInputState&) { s.statusTime = 0.01f; }},
        {"library scan", [](AppState&, Library& l, LoopInputState&) { l.scanning.store(true); }},
        {"export", [](AppState& s, Library&, LoopInputState&) { s.exportRunning.store(true); }},
        {"folder dragged over", [](AppState& s, Library&, LoopInputState&) { s.dropState.hoverFolder = true; }},
        {"audio dragged over", [](AppState& s, Library&, LoopInputState&) { s.dropState.hoverAudio = true; }},
        {"video dragged over", [](AppState& s, Library&, LoopInputState&) { s.dropState.hoverVideo = true; }},
        {"text field", [](AppState&, Library&, LoopInputState& i) { i.wantsTextInput = true; }},
        {"popup", [](AppState&, Library&, LoopInputState& i) { i.popupOpen = true; }},
        {"active widget", [](AppState&, Library&, LoopInputState& i) { i.widgetActive = true; }},
        {"held input", [](AppState&, Library&, LoopInputState& i) { i.queuedInput = true; }},
    };
    {
        auto state = std::make_unique<AppState>();
        auto library = std::make_unique<Library>();
        EXPECT_FALSE(MainLoopBusy(*state, *library, LoopInputState{})) << "idle";
        state->statusTime = -0.01f;  // a countdown that ended slightly below 0
        EXPECT_FALSE(MainLoopBusy(*state, *library, LoopInputState{}));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = std::make_unique<AppState>();
        auto library = std::make_unique<Library>();
        LoopInputState input;
        c.set(*state, *library, input);
        EXPECT_TRUE(MainLoopBusy(*state, *library, input));
    }
}

}  // namespace
}  // namespace korvel
