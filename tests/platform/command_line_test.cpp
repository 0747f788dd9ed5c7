#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

TEST(CommandLine, FirstProjectArgumentIsThePath) {
    struct Case {
        const char* name;
        std::vector<const char*> arguments;  // after the program
        std::string expected;
    };
    const Case cases[] = {
        {"no arguments", {}, ""},
        {"one project", {"film.kvproj"}, "film.kvproj"},
        {"extension in capitals", {"FILM.KVPROJ"}, "FILM.KVPROJ"},
        {"mixed case", {"a.KvProj"}, "a.KvProj"},
        {"absolute path opens", {"/home/me/film.kvproj"}, "/home/me/film.kvproj"},
        {"text file then two projects", {"notes.txt", "one.kvproj", "two.kvproj"}, "one.kvproj"},
        {"dash starts an option, skipped", {"-film.kvproj", "b.kvproj"}, "b.kvproj"},
        {"options only", {"-x", "--verbose"}, ""},
        {"slash-style word is not an option", {"/x"}, ""},
        {"extension alone is seven characters", {".kvproj"}, ".kvproj"},
        {"too short", {"kvproj"}, ""},
        {"extension not at the end", {"a.kvproj.bak"}, ""},
        {"other extension", {"a.kvprj"}, ""},
        {"empty argument", {"", "z.kvproj"}, "z.kvproj"},
        {"utf-8 name", {"/t/\xC3\xA9t\xC3\xA9.kvproj"}, "/t/\xC3\xA9t\xC3\xA9.kvproj"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const char*> argv = {"korvel"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(GetCommandLineProjectPath(static_cast<int>(argv.size()), argv.data()), c.expected);
    }
}

TEST(CommandLine, ProgramNameIsNeverThePath) {
    const char* argv[] = {"/opt/korvel.kvproj"};
    EXPECT_EQ(GetCommandLineProjectPath(1, argv), "");
}

}  // namespace
}  // namespace korvel
