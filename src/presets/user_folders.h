#pragma once
// The user's folders for Korvel's own material. Each is computed from the
// environment on every call; an empty path means the folder is not known and
// callers skip the work that needs it.
#include <string>

namespace korvel {

// "$<xdgVariable>/Korvel" when that variable is set and not empty, else
// "$HOME" followed by `homeRelative`; empty when neither is set.
std::string UserFolder(const char* xdgVariable, const char* homeRelative);

// Library caches and other application data: $XDG_DATA_HOME/Korvel, else
// $HOME/.local/share/Korvel. Not created here.
std::string AppDataFolder();
// $XDG_DOCUMENTS_DIR/Korvel, else $HOME/Documents/Korvel. Not created here.
std::string DocumentsFolder();
std::string RecipesFolder();  // DocumentsFolder()/Recipes, not created
std::string ChainsFolder();   // DocumentsFolder()/Chains, not created
// DocumentsFolder()/Bounces, created with its parents when missing; a failure
// to create it is ignored.
std::string BouncesFolder();

}  // namespace korvel
