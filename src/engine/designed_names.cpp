#include "engine/designed_names.h"

#include <cstdio>

#include "library/name_words.h"

namespace korvel {

std::string FirstNameWord(std::string_view name) {
    const auto separator = [](char c) { return c == '_' || c == '-' || c == '.' || c == ' '; };
    std::size_t start = 0;
    while (start < name.size() && separator(name[start])) ++start;
    std::size_t end = start;
    while (end < name.size() && !separator(name[end])) ++end;
    if (end == start) return "Sound";
    return std::string(name.substr(start, end - start));
}

std::string MakeDesignedSoundName(const std::vector<KeywordTerm>& terms, std::string_view primaryName,
                                  std::string_view secondName, std::int32_t counter) {
    std::string text;
    for (const KeywordTerm& term : terms) {
        if (term.mode == kKeywordExcluded || term.text.empty()) continue;
        if (!text.empty()) text += ' ';
        std::string word = term.text;
        // Only ASCII letters change case: a word starting with a UTF-8
        // letter stays as written.
        const auto first = static_cast<unsigned char>(word[0]);
        if (first >= 'a' && first <= 'z') word[0] = static_cast<char>(first - 'a' + 'A');
        text += word;
    }
    if (text.empty()) {
        text = FirstNameWord(primaryName);
        if (!secondName.empty()) {
            const std::string second = FirstNameWord(secondName);
            if (second != text) text += " " + second;
        }
        text += " Designed";
    }
    char number[16];
    std::snprintf(number, sizeof number, "_%02lld", static_cast<long long>(counter) + 1);
    return GuessCategory(terms) + "_" + text + number;
}

}  // namespace korvel
