#pragma once
// Loudness normalisation of the rendered voices per track group.
namespace korvel {

struct PlaybackEngine;

// Edits the voices' gains in place and stores `ready` last.
void NormalizeVoiceGains(PlaybackEngine& engine, bool full);

}  // namespace korvel
