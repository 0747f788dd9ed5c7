#pragma once
// The background job's overlays: "##busy" over the frozen picture of a job
// that edits what the UI would draw, and "##liveblock" over the live UI of a
// build, which catches the pointer while the timeline shows the build.
#include <string>

namespace korvel {

// Opacity over the seconds since the job started: nothing for 0.2 s, so
// short jobs do not flash, then a 0.3 s fade in.
float JobOverlayAlpha(double secondsSinceStart);

// One of the three expanding rings (k 0..2) at UI time `now`: its radius
// and alpha from `baseAlpha`; alpha 0 means the ring is skipped.
struct OverlayRing {
    float radius = 0.0f;
    int alpha = 0;
    float phase = 0.0f;  // angle of the first point
};
OverlayRing JobOverlayRing(int k, double now, int baseAlpha);

// The live overlay's line: "label  N clips", or with the list render's
// event count "label  event d / t  ·  N clips".
std::string LiveBlockText(const char* label, int voicesRendered, int eventsDone, int eventTotal);

// Draws "##busy" (frozen jobs) and ends nothing else; UI thread.
void DrawBusyOverlay();
void DrawLiveBlockOverlay();

}  // namespace korvel
