#include "platform/command_line.h"

#include <cstring>

namespace korvel {

namespace {

bool EndsWithProjectExtension(const char* text) {
    static constexpr char kExtension[] = ".kvproj";
    constexpr std::size_t kLength = sizeof kExtension - 1;
    const std::size_t length = std::strlen(text);
    if (length < kLength) return false;
    const char* tail = text + length - kLength;
    for (std::size_t i = 0; i < kLength; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}

}  // namespace

std::string GetCommandLineProjectPath(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument == nullptr || argument[0] == '-') continue;
        if (EndsWithProjectExtension(argument)) return argument;
    }
    return {};
}

}  // namespace korvel
