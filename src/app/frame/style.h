#pragma once
// The shared look of widgets: style scopes that push a fixed set of the UI
// library's colours and sizes from the theme palette and pop exactly what
// they pushed, the styled tooltip, icon menu rows, the timecode field's
// character filter and the pill toggle. UI thread; needs a UI context.
//
// [SECTION] Scopes
// [SECTION] Small widgets
#include <imgui.h>

#include <cstdint>

namespace korvel {

// [SECTION] Scopes
// Each Push… has exactly one end, named for what it pops; a scope opened
// inside another ends first.

void PushRoundedButtonStyle();   // the Build button
void PopColors3Vars1();
void PushPopupStyle();           // popups of the panels
void PopColors3Vars3();
void PushMenuRowColors();        // destructive menu rows
void PushDimmedButtonColors();   // quiet buttons
void PopColors2();
void PushCompactButtonStyle();   // compact buttons of the events tab
void PopColors4Vars2();
void PushButtonColors();         // flat text buttons
void PushMuteButtonColors(bool active);
void PushSoloButtonColors(bool active);
void PopColors4();
// Returns whether it pushed the small font (only when one is loaded).
bool PushPanelStyle();           // context menus and menu popups
void PopPanelStyle(bool pushedFont);
void PushToolbarButtonColors();  // toolbar buttons
void PopColors3();
void PushActionButtonStyle();    // primary action buttons
void PopColors4Vars1();
// The tooltip font is slot 0 of the current preset's regular set, also when
// bold fonts are chosen. Returns whether it pushed it.
bool PushTooltipStyle();
void PopTooltipStyle(bool pushedFont);
// Ends a single colour pushed in place.
void PopColors1();

enum class StyleScopeKind {
    RoundedButton,
    Popup,
    MenuRow,
    DimmedButton,
    CompactButton,
    ButtonColors,
    MuteButton,
    SoloButton,
    Panel,
    ToolbarButton,
    ActionButton,
    Tooltip,
};

// Opens the kind's push on construction and its one end on destruction.
// `active` is the mute or solo button's state; other kinds ignore it.
class StyleScope {
public:
    explicit StyleScope(StyleScopeKind kind, bool active = false);
    ~StyleScope();
    StyleScope(const StyleScope&) = delete;
    StyleScope& operator=(const StyleScope&) = delete;

private:
    StyleScopeKind kind_;
    bool pushedFont_ = false;
};

// [SECTION] Small widgets

// A printf-style tooltip in the tooltip style.
void ShowTooltip(const char* format, ...) IM_FMTARGS(1);
// ShowTooltip while the last item is hovered, disabled items included.
void ShowItemTooltip(const char* format, ...) IM_FMTARGS(1);

// A selectable row "icon  label" with the hidden identity `id`, so rows of
// the same label stay distinct. True when clicked.
bool IconMenuItem(const char* icon, const char* label, bool selected, int id);
bool IconMenuItem(const char* icon, const char* label, int id);

// The text in `color`, centred (its width rounded up) in `width` from the
// window's left edge.
void DrawCenteredText(float width, const char* text, std::uint32_t color);

// Input-text filter for timecode fields: only the digits and ':' pass.
int TimecodeCharFilter(ImGuiInputTextCallbackData* data);

// The trace tab's source choice: a rounded pill at `pos` (screen), the
// accent marking it selected, optionally with a check before its label and
// a close part at its right end. True when the body was clicked;
// `closeClicked` is set when the close part was.
bool DrawPillToggle(ImVec2 pos, float width, float height, bool selected, const char* label, const char* id,
                    std::uint32_t accent, const char* tooltip = nullptr, bool showCheck = false,
                    bool hasClose = false, bool* closeClicked = nullptr, const char* closeTooltip = nullptr);

}  // namespace korvel
