#include "library/library.h"

namespace korvel {

Library SoundLibrary;

Library::~Library() {
    scanning.store(false);
    idHashing.store(false);
    // Shutdown joins both threads before static destruction. Should a thread
    // still be joinable here, joining it (it stops on the cleared flag) beats
    // the std::terminate a joinable std::thread's destructor would call.
    if (scanThread.joinable()) scanThread.join();
    if (idHashThread.joinable()) idHashThread.join();
}

}  // namespace korvel
