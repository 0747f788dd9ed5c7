#include "playback/mixer_publishing.h"

#include "playback/playback_engine.h"

namespace korvel {

void PublishReverbSettings(PlaybackEngine& engine) { engine.reverbMailbox.Publish(engine.reverb); }

bool ApplyPendingReverbChanges(PlaybackEngine& engine) {
    const bool requests = ApplyReverbRequests(engine.reverbState, engine.reverbRequests);
    const bool settings = engine.reverbMailbox.Take(engine.mixReverb);
    return requests || settings;
}

}  // namespace korvel
