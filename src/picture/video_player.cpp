#include "picture/video_player.h"

namespace korvel {

VideoPlayer GlobalVideoPlayer;

}  // namespace korvel
