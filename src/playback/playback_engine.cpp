#include "playback/playback_engine.h"

namespace korvel {

PlaybackEngine LivePlaybackEngine;

}  // namespace korvel
