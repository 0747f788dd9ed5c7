#pragma once
// What the footer shows, apart from drawing it: which of its left cases
// applies, its texts and where the right-aligned parts go. No UI library
// calls: tested headless.
#include <string>

#include "project/app_state.h"

namespace korvel {

struct Library;

enum class FooterLeft {
    None,
    Export,     // an export runs: its status and progress
    LiveBuild,  // a build the UI keeps drawing through
    Scan,       // the library scans a folder
    Status,     // the status message counts down
};

// The first case that applies, in that order.
FooterLeft FooterLeftCase(const AppState& state, const Library& library);

// "Building...  40 clips", or with a list render's event count
// "label  event d / t  ·  N clips".
std::string FooterBuildText(const BackgroundJob& job, int voicesRendered);

// "12 events   48 kHz   24 fps".
std::string FooterSummary(int events, int sampleRate, float fps);

// Whether "Esc to stop" shows: a live job that is not done.
bool FooterShowsEscToStop(const BackgroundJob& job);

// Left edges of the right-aligned texts, 14 units from the right edge; "Esc
// to stop" sits left of the summary with a gap, so the two never overlap.
struct FooterRight {
    float summaryX = 0.0f;
    float escX = 0.0f;
};
FooterRight PlaceFooterRight(float x0, float width, float summaryWidth, float escWidth);

// The spinner's dot k (0..7): alpha 60 + ⌊195 k / 7⌋.
int FooterSpinnerDotAlpha(int k);

}  // namespace korvel
