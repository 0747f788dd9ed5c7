#pragma once
// Gain normalisation of the rendered voices: per event, so that many layers
// are no louder together than one, and in full mode a worst-case ceiling on
// the summed peaks of the whole mix. Ends every rebuild by marking the voice
// list ready.
namespace korvel {

struct PlaybackEngine;

// Rewrites the voices' gains under the voice lock (the caller holds none),
// so a light pass while the audio thread mixes costs it one skipped block,
// never a half-updated list. Then raises `revision` and stores `ready`.
void NormalizeVoiceGains(PlaybackEngine& engine, bool full);

}  // namespace korvel
