#pragma once
// Names of designed (morphed) sounds: a category code, the event's keywords
// or the sources' leading words, and a two-digit counter.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keyword_query.h"

namespace korvel {

// code + "_" + words + "_" + counter + 1 in at least two digits. Without
// usable keywords the words are the sources' first words and " Designed".
std::string MakeDesignedSoundName(const std::vector<KeywordTerm>& terms, std::string_view primaryName,
                                  std::string_view secondName, std::int32_t counter);

// The first run of bytes between underscores, hyphens, full stops and
// blanks, as written; "Sound" when there is none.
std::string FirstNameWord(std::string_view name);

}  // namespace korvel
