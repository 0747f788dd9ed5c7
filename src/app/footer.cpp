#include "app/footer.h"

#include <cmath>
#include <cstdio>

#include "library/library.h"

namespace korvel {

FooterLeft FooterLeftCase(const AppState& state, const Library& library) {
    if (state.exportRunning.load(std::memory_order_acquire)) return FooterLeft::Export;
    const BackgroundJob& job = state.backgroundJob;
    if (job.revealBuildProgress && job.active.load()) return FooterLeft::LiveBuild;
    if (library.scanning.load()) return FooterLeft::Scan;
    if (state.statusTime > 0.0f) return FooterLeft::Status;
    return FooterLeft::None;
}

std::string FooterBuildText(const BackgroundJob& job, int voicesRendered) {
    char text[160];
    if (job.jobEventTotal >= 1)
        std::snprintf(text, sizeof text, "%s  event %d / %d  \xc2\xb7  %d clips", job.label, job.jobEventsDone.load(),
                      job.jobEventTotal, voicesRendered);
    else
        std::snprintf(text, sizeof text, "%s  %d clips", job.label, voicesRendered);
    return text;
}

std::string FooterSummary(int events, int sampleRate, float fps) {
    char text[96];
    std::snprintf(text, sizeof text, "%d events   %d kHz   %.0f fps", events, sampleRate / 1000,
                  static_cast<double>(fps));
    return text;
}

bool FooterShowsEscToStop(const BackgroundJob& job) {
    return job.active.load() && job.revealBuildProgress && !job.done.load(std::memory_order_acquire);
}

FooterRight PlaceFooterRight(float x0, float width, float summaryWidth, float escWidth) {
    FooterRight r;
    r.summaryX = x0 + width - 14.0f - std::ceil(summaryWidth);
    r.escX = r.summaryX - 24.0f - std::ceil(escWidth);
    return r;
}

int FooterSpinnerDotAlpha(int k) { return 60 + 195 * k / 7; }

}  // namespace korvel
