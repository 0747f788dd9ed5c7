#pragma once
// The transport bar between the top area and the timeline: shape, material
// and preset buttons on the left, play, stop, frame steps and the timecode
// in the centre, the master volume with its meters, unlock all and Build on
// the right. UI thread; drawn inside "##main".
#include <array>

#include "app/ui_layout.h"

namespace korvel {

void DrawTransportBar(const UILayout& layout);

// Screen rectangles (UI units) of the bar's controls in the last drawn
// frame, for the window tests that click or read them back. UI thread.
struct TransportRect {
    float x0 = 0.0f, y0 = 0.0f, x1 = 0.0f, y1 = 0.0f;
    float CentreX() const { return (x0 + x1) * 0.5f; }
    float CentreY() const { return (y0 + y1) * 0.5f; }
};
struct TransportBarRects {
    std::array<TransportRect, 4> shapes;
    TransportRect material, presets, play, stop, frameBack, frameForward, volume, unlockAll, build;
};
extern TransportBarRects LastTransportBarRects;

}  // namespace korvel
