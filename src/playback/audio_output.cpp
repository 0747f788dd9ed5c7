#include "playback/audio_output.h"

namespace korvel {

AudioOutput LiveAudioOutput;

}  // namespace korvel
