#include "project/app_state.h"

namespace korvel {

AppState GlobalAppState;

}  // namespace korvel
