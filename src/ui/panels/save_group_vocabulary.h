#pragma once
// The sound words that name the group of a project's files that came from
// no recipe when they are saved as a palette.
#include <span>
#include <string_view>

namespace korvel {

// The 212 lower-case words, in their fixed order.
std::span<const std::string_view> SaveGroupVocabulary();

// True when the lower-case word is one of them. The set is built on first
// use; any thread after that.
bool IsSaveGroupWord(std::string_view lowerWord);

}  // namespace korvel
