#pragma once
// Where a point of the borderless main window acts as frame: which band
// resizes, which part of the title bar drags. A pure function of the last
// frame's geometry, so it is tested without a window.
#include <array>

namespace korvel {

enum class WindowHitArea {
    Client,  // the UI handles the pointer (caption buttons included)
    Drag,    // the title bar's empty part: moves the window
    ResizeTop,
    ResizeTopLeft,
    ResizeTopRight,
    ResizeLeft,
    ResizeRight,
    ResizeBottom,
    ResizeBottomLeft,
    ResizeBottomRight,
};

// A caption button's rectangle in window pixels, right and bottom excluded.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct WindowHitGeometry {
    int width = 0;  // window pixels
    int height = 0;
    bool maximised = false;
    float uiScale = 1.0f;
    // UI units, from the frame's title bar.
    float titleHeight = 0.0f;
    float dragLeft = 0.0f;
    float dragRight = 0.0f;
    std::array<PixelRect, 3> captionButtons = {};  // minimise, maximise, close
};

// Width of every resize band in pixels: 6 UI units, rounded.
int ResizeBandPixels(float uiScale);

// (x, y) in window pixels from the top-left corner. A window that is not
// maximised resizes from its edge bands (corners first); then the caption
// buttons belong to the UI, [dragLeft, dragRight) × titleHeight drags, and
// everything else is client.
WindowHitArea HitTestWindow(const WindowHitGeometry& geometry, int x, int y);

}  // namespace korvel
