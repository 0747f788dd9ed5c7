#pragma once
// The keyword field of the inspector and the batch editor: a one-line text
// field that completes the word under the caret from the library's words,
// with a list of up to 8 suggestions under it and the best one as ghost text.
// UI thread only.
#include <imgui.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct KeywordIndex;

inline constexpr int kKeywordSuggestionCount = 8;
// Longer typed words ask the index for nothing.
inline constexpr int kKeywordPrefixLimit = 64;

// The word under the caret: [start, end) in the text, the caret inside it.
struct KeywordWord {
    int start = 0;
    int end = 0;
    int caret = 0;
    bool atEnd = false;  // nothing of the word follows the caret
    int TypedLength() const { return caret - start; }
};

// Words are separated by a space, '+' and '-'. `length` is the text's
// length; the caret is clamped into it.
bool IsKeywordSeparator(char c);
KeywordWord FindKeywordWord(const char* text, int length, int caret);

// One field's completion state, kept from frame to frame by widget id.
struct KeywordCompletionState {
    std::vector<std::string> suggestions;  // at most kKeywordSuggestionCount
    int selected = -1;
    std::string pending;  // chosen, applied by the field's callback
    int caret = 0;        // as the callback saw it last
    bool popupShown = false;
    bool refocus = false;
    bool scrollToSelected = false;
    ImVec2 listMin = ImVec2(0.0f, 0.0f);  // the list's rectangle last frame
    ImVec2 listMax = ImVec2(0.0f, 0.0f);
    // Escape hides the list until the typed word changes: the suggestions
    // are rebuilt every frame, so clearing them alone would not close it.
    std::string dismissedWord;
    bool dismissed = false;
    std::string lastTyped;  // the typed part of last frame's word
    bool tabClaimed = false;  // the Tab bit of the active field is ours
};

// The field's text-field callback: records the caret and applies a pending
// completion. A completion that does not fit the buffer leaves the text as
// typed. UserData is the field's KeywordCompletionState.
int CompleteKeyword(ImGuiInputTextCallbackData* data);

// Draws the field `id` (also its label) editing `buffer` in place; returns
// the text field's result: with ImGuiInputTextFlags_EnterReturnsTrue in
// `flags`, true for an Enter that no suggestion list took.
bool DrawKeywordInput(const char* id, const char* hint, char* buffer, int bufferSize, const KeywordIndex& index,
                      float width, ImGuiInputTextFlags flags);

// The state of field `id` (an ImGui id), null when it never drew; and a
// reset of all of them (tests, a new context).
KeywordCompletionState* FindKeywordCompletionState(ImGuiID id);
void ResetKeywordCompletionStates();

}  // namespace korvel
