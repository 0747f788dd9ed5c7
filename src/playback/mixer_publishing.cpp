#include "playback/mixer_publishing.h"

#include "platform/thread_checks.h"
#include "playback/playback_engine.h"

namespace korvel {

void PublishReverbSettings(PlaybackEngine& engine) {
    KORVEL_CHECK_THREAD(ui);  // the mailbox has one writer
    engine.reverbMailbox.Publish(engine.reverb);
}

bool ApplyPendingReverbChanges(PlaybackEngine& engine) {
    const bool requests = ApplyReverbRequests(engine.reverbState, engine.reverbRequests);
    const bool settings = engine.reverbMailbox.Take(engine.mixReverb);
    return requests || settings;
}

void PublishMixerSettings(PlaybackEngine& engine) {
    KORVEL_CHECK_THREAD(ui);  // the fields it copies are the UI thread's
    MixerSettings settings;
    settings.masterGain = engine.masterGain;
    settings.soloVoice = engine.soloVoice.load();
    settings.groupGain = engine.groupGain;
    settings.groupMute = engine.groupMute;
    settings.groupSolo = engine.groupSolo;
    settings.masterMute = engine.masterMute;
    engine.mixerMailbox.Publish(settings);
}

void ApplyPendingMixerChanges(PlaybackEngine& engine) {
    KORVEL_CHECK_THREAD(audio);  // the mailbox has one reader
    ApplyPendingReverbChanges(engine);
    engine.mixerMailbox.Take(engine.mix);
}

}  // namespace korvel
