#include "ui/panels/keyword_input.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "app/frame/frame.h"
#include "app/theme.h"
#include "library/keyword_index.h"
#include "project/app_state.h"
#include "ui/panels/panel_look.h"

namespace korvel {

namespace {

// Per widget id; lives as long as the program. UI thread only.
std::unordered_map<ImGuiID, KeywordCompletionState> CompletionStates;

// The keys the open list takes from the rest of the frame.
constexpr ImGuiKey kListKeys[] = {ImGuiKey_UpArrow, ImGuiKey_DownArrow, ImGuiKey_Enter, ImGuiKey_KeyPadEnter,
                                  ImGuiKey_Escape};

int KeyIndex(ImGuiKey key) {
    const int index = ImGui::GetIO().KeyMap[key];
    return index >= 0 && index < IM_ARRAYSIZE(ImGuiIO::KeysDown) ? index : -1;
}

bool KeyPressed(ImGuiKey key) {
    const int index = KeyIndex(key);
    return index >= 0 && ImGui::IsKeyPressed(index, false);
}

// 1.86 has no key ownership: a key is hidden from the widgets after this one
// by making it look up for the rest of the frame.
void ClaimKey(ImGuiKey key) {
    const int index = KeyIndex(key);
    if (index < 0) return;
    ImGuiIO& io = ImGui::GetIO();
    io.KeysDown[index] = false;
    io.KeysDownDuration[index] = -1.0f;
}

constexpr ImU64 kTabBit = ImU64(1) << ImGuiKey_Tab;

}  // namespace

bool IsKeywordSeparator(char c) { return c == ' ' || c == '+' || c == '-'; }

KeywordWord FindKeywordWord(const char* text, int length, int caret) {
    KeywordWord word;
    length = std::max(length, 0);
    caret = std::clamp(caret, 0, length);
    int start = caret;
    while (start > 0 && !IsKeywordSeparator(text[start - 1])) --start;
    int end = caret;
    while (end < length && !IsKeywordSeparator(text[end])) ++end;
    word.start = start;
    word.end = end;
    word.caret = caret;
    word.atEnd = end == caret;
    return word;
}

int CompleteKeyword(ImGuiInputTextCallbackData* data) {
    auto* state = static_cast<KeywordCompletionState*>(data->UserData);
    if (state == nullptr) return 0;
    state->caret = data->CursorPos;
    if (state->pending.empty()) return 0;

    const KeywordWord word = FindKeywordWord(data->Buf, data->BufTextLen, data->CursorPos);
    const bool spaceFollows = word.end < data->BufTextLen && data->Buf[word.end] == ' ';
    std::string completion = state->pending;
    if (!spaceFollows) completion += ' ';
    state->pending.clear();
    state->selected = -1;
    // Checked before the word is deleted: the text field refuses an insert
    // that overflows its buffer, which would lose the typed word.
    const int newLength = data->BufTextLen - (word.end - word.start) + static_cast<int>(completion.size());
    if (newLength > data->BufSize - 1) return 0;
    data->DeleteChars(word.start, word.end - word.start);
    data->InsertChars(word.start, completion.c_str(), completion.c_str() + completion.size());
    state->caret = data->CursorPos;
    return 0;
}

KeywordCompletionState* FindKeywordCompletionState(ImGuiID id) {
    const auto found = CompletionStates.find(id);
    return found == CompletionStates.end() ? nullptr : &found->second;
}

void ResetKeywordCompletionStates() { CompletionStates.clear(); }

bool DrawKeywordInput(const char* id, const char* hint, char* buffer, int bufferSize, const KeywordIndex& index,
                      float width, ImGuiInputTextFlags flags) {
    if (buffer == nullptr || bufferSize < 1) return false;
    ImGuiIO& io = ImGui::GetIO();
    const ImGuiStyle& style = ImGui::GetStyle();

    // Keywords are typed in the regular face even when the bold set is on.
    const AppState& app = GlobalAppState;
    const int preset = std::clamp(app.fontSizePreset, 0, kFontSizePresets - 1);
    ImFont* font = app.boldFonts ? app.fonts.regular[preset][1] : nullptr;
    if (font != nullptr) ImGui::PushFont(font);

    const ImGuiID widgetId = ImGui::GetID(id);
    KeywordCompletionState& state = CompletionStates[widgetId];

    if (state.popupShown && !state.suggestions.empty()) {
        const int count = static_cast<int>(state.suggestions.size());
        if (KeyPressed(ImGuiKey_DownArrow)) {
            state.selected = std::min(count - 1, state.selected + 1);
            state.scrollToSelected = true;
        } else if (KeyPressed(ImGuiKey_UpArrow)) {
            state.selected = std::max(0, state.selected - 1);
            state.scrollToSelected = true;
        } else if (KeyPressed(ImGuiKey_Tab) || KeyPressed(ImGuiKey_Enter) || KeyPressed(ImGuiKey_KeyPadEnter)) {
            if (state.selected < 0) state.selected = 0;
            state.pending = state.suggestions[std::min(state.selected, count - 1)];
            state.refocus = true;
        } else if (KeyPressed(ImGuiKey_Escape)) {
            state.suggestions.clear();
            state.selected = -1;
            state.dismissed = true;
            state.dismissedWord = state.lastTyped;
        }
        for (ImGuiKey key : kListKeys) ClaimKey(key);
        ClaimKey(ImGuiKey_Tab);
    }

    // A click on the list must not look like a click outside the field,
    // which would end its editing before the row takes the click.
    const bool clickInList = state.popupShown && io.MouseClicked[0] && io.MousePos.x >= state.listMin.x &&
                             io.MousePos.y >= state.listMin.y && io.MousePos.x < state.listMax.x &&
                             io.MousePos.y < state.listMax.y;
    const ImU16 savedClickCount = io.MouseClickedCount[0];
    const bool savedDouble = io.MouseDoubleClicked[0];
    if (clickInList) {
        io.MouseClicked[0] = false;
        io.MouseClickedCount[0] = 0;
        io.MouseDoubleClicked[0] = false;
    }

    if (state.refocus) {
        ImGui::SetKeyboardFocusHere(0);
        state.refocus = false;
    }

    // The text field reads up to a terminator; a buffer without one gets it
    // at its last byte.
    if (strnlen(buffer, static_cast<size_t>(bufferSize)) == static_cast<size_t>(bufferSize))
        buffer[bufferSize - 1] = '\0';
    if (width > 0.0f) ImGui::PushItemWidth(width);
    const bool result = ImGui::InputTextWithHint(id, hint, buffer, static_cast<size_t>(bufferSize),
                                                 flags | ImGuiInputTextFlags_CallbackAlways, CompleteKeyword, &state);
    if (width > 0.0f) ImGui::PopItemWidth();
    const bool active = ImGui::IsItemActive();
    const ImVec2 fieldMin = ImGui::GetItemRectMin();
    const ImVec2 fieldMax = ImGui::GetItemRectMax();

    if (clickInList) {
        io.MouseClicked[0] = true;
        io.MouseClickedCount[0] = savedClickCount;
        io.MouseDoubleClicked[0] = savedDouble;
    }

    const int length = static_cast<int>(strnlen(buffer, static_cast<size_t>(bufferSize)));
    const KeywordWord word = FindKeywordWord(buffer, length, state.caret);
    const std::string typed(buffer + word.start, static_cast<size_t>(word.TypedLength()));

    if (state.dismissed && (!active || typed != state.dismissedWord)) state.dismissed = false;
    state.lastTyped = typed;

    state.suggestions.clear();
    if (active && !state.dismissed && typed.size() > 1 && typed.size() < static_cast<size_t>(kKeywordPrefixLimit)) {
        std::vector<KeywordSuggestion> found;
        SuggestKeywords(index, typed, found, kKeywordSuggestionCount);
        for (const KeywordSuggestion& s : found) state.suggestions.emplace_back(s.commonForm);
    }

    ImGuiContext& g = *GImGui;
    const bool showList = active && !state.suggestions.empty();
    // The UI library takes Tab for focus moves from the active item unless
    // that item claims it; the field claims it for as long as the list shows
    // and gives it back when the list hides.
    if (showList) {
        g.ActiveIdUsingKeyInputMask |= kTabBit;
        state.tabClaimed = true;
    } else if (state.tabClaimed) {
        if (active) g.ActiveIdUsingKeyInputMask &= ~kTabBit;
        state.tabClaimed = false;
    }

    if (state.suggestions.empty()) {
        state.selected = -1;
        state.popupShown = active;
        state.listMin = state.listMax = ImVec2(0.0f, 0.0f);
    } else {
        const int count = static_cast<int>(state.suggestions.size());
        state.selected = std::clamp(state.selected, 0, count - 1);
        state.popupShown = active;

        const std::string& best = state.suggestions[state.selected];
        if (word.atEnd && !typed.empty() && best.size() > typed.size()) {
            const float textWidth = ImGui::CalcTextSize(buffer, buffer + word.caret).x;
            const ImVec2 at(fieldMin.x + style.FramePadding.x + std::ceil(textWidth), fieldMin.y + style.FramePadding.y);
            ImGui::GetWindowDrawList()->AddText(at, panels::Col(ColorWithAlpha(ThemePalette.textMuted, 100)),
                                                best.c_str() + typed.size());
        }

        char listName[160];
        std::snprintf(listName, sizeof listName, "##ac_%s", id);
        const float listWidth = std::max(160.0f, fieldMax.x - fieldMin.x);
        ImGui::SetNextWindowPos(ImVec2(fieldMin.x, fieldMax.y + 2.0f));
        ImGui::SetNextWindowSizeConstraints(ImVec2(listWidth, 0.0f), ImVec2(listWidth, FLT_MAX));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(6.0f, 4.0f));
        ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(4.0f, 1.0f));
        ImGui::PushStyleColor(ImGuiCol_WindowBg, panels::Col(ThemePalette.popupBg));
        ImGui::PushStyleColor(ImGuiCol_Border, panels::Col(ThemePalette.border));
        const ImGuiWindowFlags listFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                           ImGuiWindowFlags_NoMove | ImGuiWindowFlags_AlwaysAutoResize |
                                           ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoMouseInputs |
                                           ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav;
        if (ImGui::Begin(listName, nullptr, listFlags)) {
            // It has no focus of its own, so it is lifted above the panel
            // each frame it shows.
            ImGui::BringWindowToDisplayFront(ImGui::GetCurrentWindow());
            ImDrawList* draw = ImGui::GetWindowDrawList();
            const float rowWidth = ImGui::GetContentRegionAvail().x;
            const float rowHeight = ImGui::GetFontSize() + ImGui::GetStyle().ItemSpacing.y;
            for (int i = 0; i < count; ++i) {
                const ImVec2 rowMin = ImGui::GetCursorScreenPos();
                const ImVec2 rowMax(rowMin.x + rowWidth, rowMin.y + rowHeight);
                ImGui::Dummy(ImVec2(rowWidth, rowHeight));
                const bool hovered = io.MousePos.x >= rowMin.x && io.MousePos.x < rowMax.x &&
                                     io.MousePos.y >= rowMin.y && io.MousePos.y < rowMax.y;
                if (hovered) {
                    state.selected = i;
                    if (clickInList) {
                        state.pending = state.suggestions[i];
                        state.refocus = true;
                    }
                }
                const bool isSelected = i == state.selected;
                if (isSelected)
                    draw->AddRectFilled(rowMin, rowMax, panels::Col(ColorWithAlpha(ThemePalette.accentDim, 80)), 3.0f);
                const std::string& text = state.suggestions[i];
                const ImU32 rest = panels::Col(isSelected ? ThemePalette.textPrimary : ThemePalette.textSecondary);
                const ImVec2 at(rowMin.x + 4.0f, rowMin.y + 1.0f);
                if (typed.empty() || typed.size() > text.size()) {
                    draw->AddText(at, rest, text.c_str());
                } else {
                    const size_t head = std::min<size_t>(typed.size(), 127);
                    draw->AddText(at, panels::Col(ThemePalette.accent), text.c_str(), text.c_str() + head);
                    const float headWidth = ImGui::CalcTextSize(text.c_str(), text.c_str() + head).x;
                    draw->AddText(ImVec2(at.x + headWidth, at.y), rest, text.c_str() + head);
                }
                if (isSelected && state.scrollToSelected) {
                    ImGui::SetScrollHereY(0.5f);
                    state.scrollToSelected = false;
                }
            }
            state.listMin = ImGui::GetWindowPos();
            state.listMax = ImVec2(state.listMin.x + ImGui::GetWindowWidth(), state.listMin.y + ImGui::GetWindowHeight());
        }
        ImGui::End();
        ImGui::PopStyleColor(2);
        ImGui::PopStyleVar(2);
        if (active) SuppressKeyboardNav = true;
    }

    if (font != nullptr) ImGui::PopFont();
    return result;
}

}  // namespace korvel
