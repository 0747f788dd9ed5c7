#include "project/file_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/full_disk.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::set<std::string> Listing(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec)) {
        names.insert(item.path().filename().string());
    }
    return names;
}

TEST(AtomicWrite, ReplacesTargetAndLeavesNoTemporary) {
    struct Case {
        const char* name;
        const char* previous;  // nullptr: no file before
        std::string text;
    };
    const Case cases[] = {
        {"new file", nullptr, "{\n  \"a\": 1\n}"},
        {"replaces longer file", "0123456789abcdef", "short"},
        {"empty text", "old", ""},
        {"binary bytes and line feeds kept", nullptr, std::string("a\nb\r\n\0c", 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string target = dir.file("palette.kvlib");
        if (c.previous) {
            ASSERT_TRUE(WriteBytes(target, c.previous));
        }
        ASSERT_TRUE(WriteFileAtomic(target, c.text));
        EXPECT_EQ(ReadBytes(target), c.text);
        EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"palette.kvlib"});
    }
}

TEST(AtomicWrite, FailuresKeepTheTargetAndLeaveNothing) {
    TempDir dir;

    // No folder: nothing is created, not even the folder.
    std::string inMissing = dir.file("missing/sub/file.kvrecipe");
    EXPECT_FALSE(WriteFileAtomic(inMissing, "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));

    // The move over the target fails (a folder holds its place): the folder
    // and its content stay, the temporary file is gone.
    std::string blocked = dir.file("blocked.kvchain");
    ASSERT_TRUE(WriteBytes(blocked + "/inside.txt", "keep"));
    EXPECT_FALSE(WriteFileAtomic(blocked, "new text"));
    EXPECT_EQ(ReadBytes(blocked + "/inside.txt"), "keep");
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"blocked.kvchain"});

    EXPECT_FALSE(WriteFileAtomic("", "x"));
}

TEST(AtomicWrite, CommitMovesAFinishedTemporary) {
    TempDir dir;
    std::string target = dir.file("com.korvel.prefs");
    std::string temp = UniqueTempPath(target);
    ASSERT_TRUE(WriteBytes(target, "old"));
    ASSERT_TRUE(WriteBytes(temp, "new"));
    EXPECT_TRUE(CommitTempFile(temp, target));
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_FALSE(std::filesystem::exists(temp));

    EXPECT_FALSE(CommitTempFile(dir.file("never-written.tmp"), target));
    EXPECT_EQ(ReadBytes(target), "new");
}

TEST(AtomicWrite, TemporaryNamesAreUniqueAndNotOfTheTargetKind) {
    const std::string target = "/x/Sounds.kvlib";
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string temp = UniqueTempPath(target);
        EXPECT_EQ(temp.rfind(target + ".tmp", 0), 0u) << temp;
        EXPECT_FALSE(temp.ends_with(".kvlib")) << "the palette loader must not take it for a palette";
        EXPECT_TRUE(seen.insert(temp).second) << temp;
    }
}

TEST(AtomicWrite, ConcurrentWritersOfOneFileNeverMix) {
    // A scan checkpoint and a UI save of the same palette at once.
    TempDir dir;
    const std::string target = dir.file("shared.kvlib");
    const std::string texts[] = {std::string(100000, 'a'), std::string(70000, 'b')};
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (const auto& text : texts) {
        writers.emplace_back([&, text] {
            for (int i = 0; i < 50; ++i) {
                if (!WriteFileAtomic(target, text)) ++failures;
            }
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(failures.load(), 0);
    std::string result = ReadBytes(target);
    EXPECT_TRUE(result == texts[0] || result == texts[1]) << "size " << result.size();
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"shared.kvlib"});
}

// A process id that no process holds any more: a child that has exited and
// been reaped.
long DeadProcessId() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<long>(child);
}

TEST(AtomicWrite, RemovesOnlyTheTemporariesOfProcessesThatAreGone) {
    TempDir dir;
    const std::string target = dir.file("Doors.kvlib");
    const std::string dead = "Doors.kvlib.tmp-" + std::to_string(DeadProcessId()) + "-3";
    const std::string live = "Doors.kvlib.tmp-1-0";  // pid 1 always runs
    const std::string own = "Doors.kvlib.tmp-" + std::to_string(getpid()) + "-999999";
    const std::string otherTarget = "Wind.kvlib.tmp-" + std::to_string(DeadProcessId()) + "-1";
    const std::string notOurs = "Doors.kvlib.tmp-notes.txt";
    for (const auto& name : {dead, live, own, otherTarget, notOurs}) ASSERT_TRUE(WriteBytes(dir.file(name), "partial"));

    ASSERT_TRUE(WriteFileAtomic(target, "whole"));
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"Doors.kvlib", live, own, otherTarget, notOurs}));
}

TEST(AtomicWrite, LongNamesLinksAndModes) {
    // The longest name the file system takes still saves: the temporary's
    // suffix must not push its own name past the limit.
    TempDir dir;
    const std::string longName = std::string(250 - 6, 'n') + ".kvlib";
    ASSERT_EQ(longName.size(), 250u);
    const std::string longTarget = dir.file(longName);
    ASSERT_TRUE(WriteFileAtomic(longTarget, "first"));
    ASSERT_TRUE(WriteFileAtomic(longTarget, "second"));
    EXPECT_EQ(ReadBytes(longTarget), "second");
    const std::string temp = UniqueTempPath(longTarget);
    EXPECT_LE(std::filesystem::path(temp).filename().string().size(), kMaxFileNameBytes);
    // A name of multi-byte characters is cut between characters.
    std::string wide;
    while (wide.size() < 248) wide += "\xC3\xA9";  // é
    const std::string wideTarget = dir.file(wide);
    ASSERT_TRUE(WriteFileAtomic(wideTarget, "x"));
    const std::string wideTemp = std::filesystem::path(UniqueTempPath(wideTarget)).filename().string();
    const std::size_t marker = wideTemp.find(".tmp-");
    ASSERT_NE(marker, std::string::npos);
    EXPECT_EQ(marker % 2, 0u) << "cut inside a character";

    // Saving through a symbolic link writes the file it points to; the link
    // stays a link.
    ASSERT_TRUE(WriteBytes(dir.file("real/project.kvproj"), "old"));
    const std::string link = dir.file("link.kvproj");
    std::filesystem::create_symlink("real/project.kvproj", link);
    ASSERT_TRUE(WriteFileAtomic(link, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(dir.file("real/project.kvproj")), "new");
    EXPECT_EQ(Listing(dir.path() / "real"), std::set<std::string>{"project.kvproj"});

    // The new file keeps the old one's permission bits.
    for (const mode_t mode : {mode_t{0444}, mode_t{0640}, mode_t{0600}}) {
        SCOPED_TRACE(mode);
        const std::string path = dir.file("mode.kvproj");
        ASSERT_TRUE(WriteBytes(path, "old"));
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(WriteFileAtomic(path, "new"));
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
        EXPECT_EQ(ReadBytes(path), "new");
        std::filesystem::remove(path);
    }
}

// Every whole-file writer on a full disk: false, the earlier file as it
// was, nothing partial beside it.
TEST(AtomicWrite, AFullDiskKeepsTheEarlierFile) {
    TempDir sources;
    const std::string big(100 * 1024, 'n');
    ASSERT_TRUE(WriteBytes(sources.file("big.wav"), big));
    struct Case {
        const char* name;
        std::function<bool(const std::string& target)> write;
    };
    const Case cases[] = {
        {"atomic write", [&](const std::string& target) { return WriteFileAtomic(target, big); }},
        {"copy replacing",
         [&](const std::string& target) {
             std::error_code ec;
             return CopyFileAtomic(sources.file("big.wav"), target, true, ec);
         }},
        {"temporary committed",
         [&](const std::string& target) {
             const std::string temp = WriteTempFileBeside(target, big);
             return !temp.empty() && CommitTempFile(temp, target);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FullDisk disk(64 * 1024);
        const std::string target = disk.file("Sounds.kvlib");
        ASSERT_TRUE(WriteBytes(target, "earlier"));
        EXPECT_EQ(disk.Run([&] { return c.write(target) ? 1 : 0; }), 0);
        EXPECT_EQ(ReadBytes(target), "earlier");
        EXPECT_EQ(Listing(disk.path()), std::set<std::string>{"Sounds.kvlib"});
    }
}

TEST(AtomicWrite, CopiesNeverReplaceATakenNameUnlessAsked) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.file("source.wav"), "source"));
    ASSERT_TRUE(WriteBytes(dir.file("taken.wav"), "taken"));
    std::error_code ec;
    EXPECT_FALSE(CopyFileAtomic(dir.file("source.wav"), dir.file("taken.wav"), false, ec));
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_EQ(ReadBytes(dir.file("taken.wav")), "taken");
    EXPECT_TRUE(CopyFileAtomic(dir.file("source.wav"), dir.file("free.wav"), false, ec));
    EXPECT_EQ(ReadBytes(dir.file("free.wav")), "source");
    EXPECT_TRUE(CopyFileAtomic(dir.file("source.wav"), dir.file("taken.wav"), true, ec));
    EXPECT_EQ(ReadBytes(dir.file("taken.wav")), "source");
    EXPECT_FALSE(CopyFileAtomic(dir.file("missing.wav"), dir.file("other.wav"), false, ec));
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"free.wav", "source.wav", "taken.wav"}));
}

TEST(FileReadable, OnlyFilesThatOpen) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.file("file.kvproj"), "{}"));
    ASSERT_TRUE(WriteBytes(dir.file("empty.kvproj"), ""));
    struct Case {
        const char* name;
        std::string path;
        bool expected;
    };
    const Case cases[] = {
        {"empty path", "", false},
        {"file", dir.file("file.kvproj"), true},
        {"empty file", dir.file("empty.kvproj"), true},
        {"missing file", dir.file("none.kvproj"), false},
        {"folder", dir.path().string(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsFileReadable(c.path), c.expected);
    }
}

}  // namespace
}  // namespace korvel
