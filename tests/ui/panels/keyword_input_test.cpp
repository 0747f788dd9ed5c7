#include "ui/panels/keyword_input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/keyword_index.h"
#include "panels_fixture.h"

namespace korvel {
namespace {

using test::PanelFrames;
using test::UiHarness;

// The word under the caret and the completion the callback writes, on the
// text field's own callback record.
TEST(CompleteKeyword, ReplacesTheWordUnderTheCaret) {
    struct Case {
        const char* name;
        const char* text;
        int caret;
        int bufferSize;
        const char* pending;
        const char* expected;
        int expectedCaret;
    };
    const Case cases[] = {
        {"plus prefix kept", "+do", 3, 64, "Door", "+Door ", 6},
        {"caret inside a middle word", "metal dor wood", 8, 64, "door", "metal door wood", 10},
        {"word followed by minus", "do-rain", 2, 64, "door", "door -rain", 5},
        {"exactly fills the buffer", "ab do", 5, 9, "door", "ab door ", 8},
        {"does not fit: text as typed", "ab do", 5, 8, "door", "ab do", 5},
        {"does not fit, word in the middle", "a do b", 3, 9, "doorbell", "a do b", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string storage(static_cast<size_t>(c.bufferSize), '\0');
        std::memcpy(storage.data(), c.text, std::strlen(c.text));
        KeywordCompletionState state;
        state.pending = c.pending;
        state.selected = 2;
        ImGuiInputTextCallbackData data;
        data.EventFlag = ImGuiInputTextFlags_CallbackAlways;
        data.Buf = storage.data();
        data.BufTextLen = static_cast<int>(std::strlen(c.text));
        data.BufSize = c.bufferSize;
        data.CursorPos = c.caret;
        data.UserData = &state;
        EXPECT_EQ(CompleteKeyword(&data), 0);
        EXPECT_STREQ(storage.c_str(), c.expected);
        EXPECT_EQ(state.caret, c.expectedCaret);
        EXPECT_TRUE(state.pending.empty());  // never retried frame after frame
        EXPECT_EQ(state.selected, -1);
    }
}

TEST(FindKeywordWord, SeparatorsAndTypedPart) {
    struct Case {
        const char* text;
        int caret;
        int start, end, typed;
        bool atEnd;
    };
    const Case cases[] = {
        {"+rain -wind", 3, 1, 5, 2, false},
        {"+rain -wind", 11, 7, 11, 4, true},
        {"rain-", 4, 0, 4, 4, true},
        {"", 5, 0, 0, 0, true},        // caret past the text is clamped
        {"door", -3, 0, 4, 0, false},  // and before it
        {"a  b", 2, 2, 2, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " @" + std::to_string(c.caret));
        const KeywordWord w = FindKeywordWord(c.text, static_cast<int>(std::strlen(c.text)), c.caret);
        EXPECT_EQ(w.start, c.start);
        EXPECT_EQ(w.end, c.end);
        EXPECT_EQ(w.TypedLength(), c.typed);
        EXPECT_EQ(w.atEnd, c.atEnd);
    }
}

// A field with the library words door (9), doorbell (5), dog (3), down (2)
// and a second field after it, drawn frame by frame.
class KeywordInputFrames : public ::testing::Test {
protected:
    void SetUp() override {
        ResetKeywordCompletionStates();
        index_.entries = {{"dog", "dog", 3}, {"door", "door", 9}, {"doorbell", "doorbell", 5}, {"down", "Down", 2}};
        std::memset(buffer_, 0, sizeof buffer_);
    }
    void TearDown() override { ResetKeywordCompletionStates(); }

    void Body() {
        submitted_ = DrawKeywordInput("##kw", "Keywords", buffer_, sizeof buffer_, index_, 240.0f,
                                      ImGuiInputTextFlags_EnterReturnsTrue);
        fieldId_ = ImGui::GetItemID();
        fieldMin_ = ImGui::GetItemRectMin();
        fieldMax_ = ImGui::GetItemRectMax();
        ImGui::InputText("##other", other_, sizeof other_);
        otherId_ = ImGui::GetItemID();
        activeId_ = ImGui::GetActiveID();
        listShown_ = ImGui::FindWindowByName("##ac_##kw") != nullptr && ImGui::FindWindowByName("##ac_##kw")->Active;
        suppressNav_ = SuppressKeyboardNav;
    }
    std::function<void()> body() {
        return [this] { Body(); };
    }
    void Frame() { frames_.Run(body()); }
    void Press(ImGuiKey key) { frames_.Press(key, body()); }
    // Focuses the field and types `text`.
    void Type(const char* text) {
        if (activeId_ != fieldId_ || fieldId_ == 0) {
            Frame();
            frames_.Click(fieldMin_.x + 20.0f, (fieldMin_.y + fieldMax_.y) / 2.0f, body());
        }
        harness_.io().AddInputCharactersUTF8(text);
        Frame();
    }
    KeywordCompletionState& State() { return *FindKeywordCompletionState(fieldId_); }

    UiHarness harness_;
    PanelFrames frames_{harness_};
    KeywordIndex index_;
    char buffer_[256];
    char other_[32] = {};
    bool submitted_ = false;
    bool listShown_ = false;
    bool suppressNav_ = false;
    ImGuiID fieldId_ = 0, otherId_ = 0, activeId_ = 0;
    ImVec2 fieldMin_, fieldMax_;
};

TEST_F(KeywordInputFrames, ListOpensFromTheSecondLetter) {
    Type("d");
    EXPECT_EQ(activeId_, fieldId_);
    EXPECT_FALSE(listShown_);
    EXPECT_FALSE(suppressNav_);
    Type("o");
    ASSERT_TRUE(listShown_);
    EXPECT_TRUE(suppressNav_);
    ASSERT_EQ(State().suggestions.size(), 4u);
    EXPECT_EQ(State().suggestions[0], "door");  // most frequent first
    EXPECT_EQ(State().suggestions[3], "Down");  // the common spelling
    EXPECT_EQ(State().selected, 0);
}

TEST_F(KeywordInputFrames, ArrowsStopAtTheEnds) {
    Type("do");
    for (int i = 0; i < 6; ++i) Press(ImGuiKey_DownArrow);
    EXPECT_EQ(State().selected, 3);
    for (int i = 0; i < 6; ++i) Press(ImGuiKey_UpArrow);
    EXPECT_EQ(State().selected, 0);
    EXPECT_STREQ(buffer_, "do");  // the field never saw the arrows
}

TEST_F(KeywordInputFrames, EnterCompletesWhileTheListShowsElseSubmits) {
    Type("+do");
    Press(ImGuiKey_DownArrow);
    harness_.SetKey(ImGuiKey_Enter, true);
    Frame();
    EXPECT_FALSE(submitted_);
    EXPECT_STREQ(buffer_, "+doorbell ");
    harness_.SetKey(ImGuiKey_Enter, false);
    Frame();
    EXPECT_EQ(activeId_, fieldId_);
    EXPECT_FALSE(listShown_);

    harness_.SetKey(ImGuiKey_KeyPadEnter, true);
    Frame();
    EXPECT_TRUE(submitted_);
    harness_.SetKey(ImGuiKey_KeyPadEnter, false);
    Frame();
}

TEST_F(KeywordInputFrames, EscapeClosesTheListAndKeepsTheText) {
    Type("do");
    ASSERT_TRUE(listShown_);
    Press(ImGuiKey_Escape);
    EXPECT_FALSE(listShown_);
    EXPECT_EQ(activeId_, fieldId_);  // the field did not end its edit
    EXPECT_STREQ(buffer_, "do");
    Type("o");  // a changed word asks again
    EXPECT_TRUE(listShown_);
    EXPECT_EQ(State().suggestions[0], "door");
}

TEST_F(KeywordInputFrames, TabCompletesAndNeverMovesTheFocus) {
    Type("do");
    Frame();
    Press(ImGuiKey_Tab);
    EXPECT_STREQ(buffer_, "door ");
    EXPECT_EQ(activeId_, fieldId_);
    // With the list gone Tab moves on as usual.
    Press(ImGuiKey_Tab);
    EXPECT_EQ(activeId_, otherId_);
}

TEST_F(KeywordInputFrames, ClickOnARowCompletesAndTheFieldStaysActive) {
    Type("do");
    Frame();
    const KeywordCompletionState& s = State();
    ASSERT_GT(s.listMax.y, s.listMin.y);
    const float rowPitch = ImGui::GetFontSize() + 2.0f;  // row height plus item spacing
    const float y = s.listMin.y + 4.0f + rowPitch * 2.0f + rowPitch / 2.0f;
    frames_.Click(s.listMin.x + 20.0f, y, body());
    Frame();
    EXPECT_STREQ(buffer_, "dog ");
    EXPECT_EQ(activeId_, fieldId_);
}

TEST_F(KeywordInputFrames, OverlongWordAsksNothing) {
    Type(std::string(70, 'd').c_str());
    EXPECT_FALSE(listShown_);
}

TEST(DrawKeywordInput, BufferWithoutTerminatorIsNotReadPastItsSize) {
    UiHarness harness;
    PanelFrames frames(harness);
    KeywordIndex index;
    char storage[12];
    std::memset(storage, 'x', sizeof storage);
    frames.Run([&] { DrawKeywordInput("##raw", "", storage, 8, index, 0.0f, 0); });
    EXPECT_EQ(storage[7], '\0');
    EXPECT_EQ(storage[8], 'x');
    ResetKeywordCompletionStates();
}

}  // namespace
}  // namespace korvel
