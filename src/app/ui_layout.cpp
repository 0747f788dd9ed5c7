#include "app/ui_layout.h"

#include <algorithm>

namespace korvel {

UILayout ComputeUILayout(const UILayoutInputs& in) {
    UILayout l;
    const float f = in.fontSize;
    l.displayWidth = in.displayWidth;
    l.displayHeight = in.displayHeight;
    l.fontSize = f;
    l.titleBarHeight = std::max(1.8f * f, 32.0f) + (in.captionButtons ? 8.0f : 0.0f);
    l.topAreaHeight = 0.38f * in.displayHeight;
    l.transportHeight = std::max(2.3f * f, 40.0f);
    l.footerHeight = std::max(1.4f * f, 24.0f);
    l.timelineHeight = in.displayHeight - l.titleBarHeight - l.topAreaHeight - l.transportHeight - l.footerHeight;

    l.videoWidth = std::min(2.4f * l.topAreaHeight + 16.0f, 0.6f * in.displayWidth);
    l.hasVideo = in.hasVideo;
    if (in.hasVideo && in.videoPixelWidth > 0.0f && in.videoPixelHeight > 0.0f && l.topAreaHeight > 0.0f) {
        const float aspect = in.videoPixelWidth / in.videoPixelHeight;
        if (aspect >= 1.7777778f && aspect <= l.videoWidth / l.topAreaHeight) l.videoWidth = aspect * l.topAreaHeight;
    }
    l.panelWidth = in.displayWidth - l.videoWidth;
    l.panelHalfWidth = l.panelWidth * 0.5f;
    l.panelOtherWidth = in.displayWidth - l.videoWidth - l.panelHalfWidth;
    return l;
}

}  // namespace korvel
