#pragma once
// The frame's layout: every region's size in UI units, computed afresh each
// frame and handed to the timeline and every panel.
namespace korvel {

struct UILayout {
    float displayWidth = 0.0f;   // W
    float displayHeight = 0.0f;  // H
    float fontSize = 0.0f;       // F, the body font's size
    float titleBarHeight = 0.0f;
    float topAreaHeight = 0.0f;
    float transportHeight = 0.0f;
    float footerHeight = 0.0f;
    float timelineHeight = 0.0f;
    float videoWidth = 0.0f;
    float panelWidth = 0.0f;
    float panelHalfWidth = 0.0f;
    float panelOtherWidth = 0.0f;
    bool hasVideo = false;
};

// What the layout depends on besides the display.
struct UILayoutInputs {
    float displayWidth = 0.0f;
    float displayHeight = 0.0f;
    float fontSize = 18.0f;
    bool captionButtons = true;  // the caption-button hook is installed
    bool hasVideo = false;       // a video is loaded and shows a frame
    float videoPixelWidth = 0.0f;
    float videoPixelHeight = 0.0f;
};

// The title bar max(1.8 F, 32) (+8 with caption buttons), the top area 0.38 H,
// the transport max(2.3 F, 40), the footer max(1.4 F, 24), the timeline the
// rest. The video area starts at min(2.4 × top + 16, 0.6 W) and shrinks to a
// picture of 16:9 or wider that fits it; narrower pictures keep it.
UILayout ComputeUILayout(const UILayoutInputs& in);

}  // namespace korvel
