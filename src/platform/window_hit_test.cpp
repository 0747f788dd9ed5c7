#include "platform/window_hit_test.h"

namespace korvel {

int ResizeBandPixels(float uiScale) { return static_cast<int>(6.0f * uiScale + 0.5f); }

WindowHitArea HitTestWindow(const WindowHitGeometry& geometry, int x, int y) {
    if (!geometry.maximised) {
        const int band = ResizeBandPixels(geometry.uiScale);
        const bool top = y < band;
        const bool bottom = y >= geometry.height - band;
        const bool left = x < band;
        const bool right = x >= geometry.width - band;
        if (top) {
            return left ? WindowHitArea::ResizeTopLeft
                        : right ? WindowHitArea::ResizeTopRight : WindowHitArea::ResizeTop;
        }
        if (bottom) {
            return left ? WindowHitArea::ResizeBottomLeft
                        : right ? WindowHitArea::ResizeBottomRight : WindowHitArea::ResizeBottom;
        }
        if (left) return WindowHitArea::ResizeLeft;
        if (right) return WindowHitArea::ResizeRight;
    }

    for (const PixelRect& r : geometry.captionButtons) {
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return WindowHitArea::Client;
    }

    const float s = geometry.uiScale;
    const float titlePixels = geometry.titleHeight * s;
    if (titlePixels > 0.0f && static_cast<float>(y) < titlePixels &&
        static_cast<float>(x) >= geometry.dragLeft * s && static_cast<float>(x) < geometry.dragRight * s) {
        return WindowHitArea::Drag;
    }
    return WindowHitArea::Client;
}

}  // namespace korvel
