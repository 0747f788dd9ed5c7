#include "library/relink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "project/fixed_text.h"
#include "project/project.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

// Relinking works on a registry handed to it, so each test builds its own
// instead of sharing the process-wide one.
class RelinkTest : public ::testing::Test {
protected:
    // Writes a file and registers it under `id` with its real fingerprint.
    std::string Registered(FileIdRegistry& registry, const FileId& id, const std::string& name,
                           const std::string& content) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteBytes(path, content));
        FileIdEntry entry;
        entry.path = path;
        EXPECT_TRUE(ComputeFileFingerprint(path, entry.fingerprint, entry.size));
        registry.fingerprintIndex[entry.fingerprint].push_back({entry.size, id});
        registry.entries[id] = entry;
        return path;
    }

    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteBytes(path, content));
        return path;
    }

    static bool HasAlternate(const FileIdEntry& entry, const std::string& path) {
        return std::find(entry.alternates.begin(), entry.alternates.end(), path) != entry.alternates.end();
    }

    test::TempDir dir_;
};

TEST_F(RelinkTest, RelinkResultCodes) {
    struct Case {
        const char* name;
        FileId id;
        std::string newFile;     // written under "moved/"; empty: not written
        std::string newContent;
        bool force;
        int32_t expected;
        bool pathChanged;
    };
    const Case cases[] = {
        {"same content at a new place", "aaaa", "moved/a.wav", "content A", false, kRelinked, true},
        {"through an alias", "alias", "moved/a.wav", "content A", false, kRelinked, true},
        {"content differs", "aaaa", "moved/b.wav", "content B", false, kRelinkContentDiffers, false},
        {"same size, other bytes", "aaaa", "moved/c.wav", "content Z", false, kRelinkContentDiffers, false},
        {"unreadable", "aaaa", "", "", false, kRelinkUnreadable, false},
        {"unreadable beats unknown id", "nope", "", "", false, kRelinkUnreadable, false},
        {"id not registered", "nope", "moved/a.wav", "content A", false, kRelinkUnknownId, false},
        {"forced over different content", "aaaa", "moved/b.wav", "content B", true, kRelinked, true},
        {"forced, unreadable", "aaaa", "", "", true, kRelinkUnreadable, false},
        {"forced, id not registered", "nope", "moved/b.wav", "content B", true, kRelinkUnknownId, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileIdRegistry registry;
        const std::string original = Registered(registry, "aaaa", "a.wav", "content A");
        registry.aliases["alias"] = "aaaa";
        const std::string newPath = dir_.file(c.newFile.empty() ? "moved/absent.wav" : c.newFile);
        if (!c.newFile.empty()) Write(c.newFile, c.newContent);
        const FileIdEntry before = registry.entries.at("aaaa");
        const int32_t revision = registry.revision;

        const int32_t result = c.force ? ForceRelinkFileId(registry, c.id, newPath)
                                       : RelinkFileId(registry, c.id, newPath);
        EXPECT_EQ(result, c.expected);
        const FileIdEntry& after = registry.entries.at("aaaa");
        EXPECT_EQ(after.path, c.pathChanged ? newPath : original);
        EXPECT_EQ(registry.revision, revision + (c.expected == kRelinked ? 1 : 0));
        if (c.expected != kRelinked) {
            EXPECT_EQ(after.fingerprint, before.fingerprint);
            EXPECT_EQ(after.alternates, before.alternates);
        }
        EXPECT_FALSE(registry.entries.contains("alias")) << "relinking never adds an id";
    }
}

TEST_F(RelinkTest, RelinkRecordsTheNewPathAsAnAlternate) {
    FileIdRegistry registry;
    const std::string original = Registered(registry, "aaaa", "a.wav", "content A");
    const std::string moved = Write("moved/a.wav", "content A");
    ASSERT_EQ(RelinkFileId(registry, "aaaa", moved), kRelinked);
    const FileIdEntry& entry = registry.entries.at("aaaa");
    EXPECT_EQ(entry.path, moved);
    EXPECT_TRUE(HasAlternate(entry, moved));
    EXPECT_FALSE(HasAlternate(entry, original)) << "the previous path is not added";

    // With 8 alternates held the new path is current but not listed.
    FileIdEntry& full = registry.entries.at("aaaa");
    full.alternates.clear();
    for (int i = 0; i < 8; ++i) full.alternates.push_back("/old/" + std::to_string(i));
    const std::string again = Write("again/a.wav", "content A");
    ASSERT_EQ(RelinkFileId(registry, "aaaa", again), kRelinked);
    EXPECT_EQ(full.path, again);
    EXPECT_FALSE(HasAlternate(full, again));
}

TEST_F(RelinkTest, EntryWithoutFingerprintTakesTheChosenFile) {
    FileIdRegistry registry;
    registry.entries["bbbb"].path = "/gone/b.wav";
    const std::string chosen = Write("b.wav", "anything");
    ASSERT_EQ(RelinkFileId(registry, "bbbb", chosen), kRelinked);
    const FileIdEntry& entry = registry.entries.at("bbbb");
    EXPECT_NE(entry.fingerprint, 0u);
    EXPECT_EQ(entry.size, 8u);
    EXPECT_EQ(FindIdByFingerprint(registry, entry.fingerprint, entry.size), "bbbb");
}

TEST_F(RelinkTest, ForcedRelinkKeepsTheOldContentMapped) {
    FileIdRegistry registry;
    Registered(registry, "aaaa", "a.wav", "content A");
    registry.entries.at("aaaa").alternates = {"/x/a.wav"};
    const uint64_t oldFingerprint = registry.entries.at("aaaa").fingerprint;
    ASSERT_EQ(ForceRelinkFileId(registry, "aaaa", Write("b.wav", "other content")), kRelinked);
    const FileIdEntry& entry = registry.entries.at("aaaa");
    EXPECT_TRUE(entry.alternates.empty());
    EXPECT_EQ(entry.size, 13u);
    EXPECT_EQ(FindIdByFingerprint(registry, oldFingerprint, 9), "aaaa");
    EXPECT_EQ(FindIdByFingerprint(registry, entry.fingerprint, entry.size), "aaaa");
}

TEST_F(RelinkTest, RelinkAllMissingCountsOnlyEntriesSeenMissing) {
    FileIdRegistry registry;
    Registered(registry, "back", "back.wav", "1");
    Registered(registry, "never", "never.wav", "2");
    Registered(registry, "viaalt", "alt.wav", "3");
    Registered(registry, "still", "still.wav", "4");
    // Seen missing at the last check; "back" has its file again now.
    for (const char* id : {"back", "viaalt", "still"}) registry.entries.at(id).checkedRevision = registry.revision;
    const std::string alternate = Write("elsewhere/alt.wav", "3");
    std::filesystem::remove(registry.entries.at("viaalt").path);
    registry.entries.at("viaalt").alternates = {alternate};
    std::filesystem::remove(registry.entries.at("still").path);

    EXPECT_EQ(RelinkAllMissing(registry), 2);
    EXPECT_EQ(registry.entries.at("viaalt").path, alternate);
    EXPECT_TRUE(registry.entries.at("never").exists) << "checked, but not counted";
    EXPECT_FALSE(registry.entries.at("still").exists);
}

TEST_F(RelinkTest, RelinkFromFolderFindsContentAndNames) {
    FileIdRegistry registry;
    // Two entries with the same content, both missing.
    const std::string a = Registered(registry, "twin1", "a.wav", "shared content");
    registry.entries["twin2"] = registry.entries.at("twin1");
    std::filesystem::remove(a);
    // An entry without fingerprint, found by its exact file name.
    registry.entries["named"].path = "D:\\Old\\Door Slam.wav";
    // A present entry is not looked for.
    Registered(registry, "here", "here.wav", "present");

    const std::string found = Write("library/deep/x/renamed.wav", "shared content");
    Write("library/door slam.wav", "wrong case");
    const std::string named = Write("library/sub/Door Slam.wav", "door");
    Write("library/sub/Door Slam.txt", "door");

    EXPECT_EQ(RelinkFromFolder(registry, dir_.file("library"), [](std::string_view e) { return e == ".wav"; }), 3);
    EXPECT_EQ(registry.entries.at("twin1").path, found);
    EXPECT_EQ(registry.entries.at("twin2").path, found);
    EXPECT_EQ(registry.entries.at("named").path, named);
    EXPECT_EQ(registry.entries.at("named").size, 4u) << "the found file's fingerprint is taken";
    EXPECT_TRUE(HasAlternate(registry.entries.at("named"), named));
    EXPECT_FALSE(ResolveEntryPath(registry, registry.entries.at("twin1")).empty());

    EXPECT_EQ(RelinkFromFolder(registry, dir_.file("library"), {}), 0) << "nothing is missing any more";
}

TEST_F(RelinkTest, RelinkFromFolderFiltersAndFailsQuietly) {
    FileIdRegistry registry;
    const std::string a = Registered(registry, "gone", "a.WAV", "some audio");
    std::filesystem::remove(a);
    Write("library/a.WAV", "some audio");
    EXPECT_EQ(RelinkFromFolder(registry, dir_.file("absent"), {}), 0);
    EXPECT_EQ(RelinkFromFolder(registry, dir_.file("library"), [](std::string_view e) { return e == ".aif"; }), 0);
    EXPECT_EQ(RelinkFromFolder(registry, dir_.file("library"), [](std::string_view e) { return e == ".wav"; }), 1)
        << "the extension is lower-cased before the filter sees it";
}

// Refreshing uses the process-wide registry; ids are drawn fresh per test.
TEST_F(RelinkTest, RefreshSessionSourcePathsFollowsIdentities) {
    const std::string moved = Write("moved.wav", "refresh me");
    const FileIdResult identity = ComputeFileId(moved);
    ASSERT_FALSE(identity.id.empty());
    const FileId& id = identity.id;

    Project project;
    LayerResult layer;
    layer.filepath = "/old/x.wav";
    layer.fileId = id;
    layer.alloyEnv.filepath = "/old/env.wav";
    layer.alloyEnv.fileId = id;
    layer.alloyMid.filepath = "/old/mid.wav";
    project.results.push_back(layer);
    Event event;
    CopyText(event.pinnedFile, "/old/x.wav");
    event.pinnedFileId = id;
    event.pinnedFiles = {"/old/1.wav", "/old/2.wav"};
    event.pinnedFileIds = {id};  // shorter than the paths
    project.events.push_back(event);
    Event unknown;
    CopyText(unknown.pinnedFile, "/old/y.wav");
    unknown.pinnedFileId = "0000000000000000";
    project.events.push_back(unknown);
    project.bannedFiles = {"/old/banned.wav"};
    project.bannedFileIds = {id};

    RefreshSessionSourcePaths(project);
    EXPECT_EQ(project.results[0].filepath, moved);
    EXPECT_EQ(project.results[0].alloyEnv.filepath, moved);
    EXPECT_EQ(project.results[0].alloyMid.filepath, "/old/mid.wav");
    EXPECT_EQ(TextOf(project.events[0].pinnedFile), moved);
    EXPECT_EQ(project.events[0].pinnedFiles[0], moved);
    EXPECT_EQ(project.events[0].pinnedFiles[1], "/old/2.wav");
    EXPECT_EQ(TextOf(project.events[1].pinnedFile), "/old/y.wav");
    EXPECT_EQ(project.bannedFiles[0], moved);
    EXPECT_EQ(project.events[1].pinnedFileId, "0000000000000000");
}

TEST_F(RelinkTest, RefreshPathRegistersAnUnknownIdUnderItsPath) {
    const std::string here = Write("here.wav", "x");
    std::string path = here;
    RefreshPathFromFileId(path, "feedfacefeedface");
    EXPECT_EQ(path, here);
    EXPECT_EQ(ResolvePathById("feedfacefeedface"), here);
    std::string untouched = "/a.wav";
    RefreshPathFromFileId(untouched, "");
    EXPECT_EQ(untouched, "/a.wav");
}

TEST_F(RelinkTest, RemapPathRootComparesBytes) {
    const std::string target = Write("new/B/x.wav", "x");
    struct Case {
        const char* name;
        std::string oldRoot;
        std::string path;
        std::string expected;
    };
    const std::string newRoot = dir_.file("new/");
    const Case cases[] = {
        {"prefix of a longer folder name", "/lib/A", "/lib/AB/x.wav", target},
        {"no such file under the new root", "/lib/A", "/lib/AC/x.wav", "/lib/AC/x.wav"},
        {"other root", "/other/A", "/lib/AB/x.wav", "/lib/AB/x.wav"},
        {"path shorter than the root", "/lib/AB/x.wav/more", "/lib/AB/x.wav", "/lib/AB/x.wav"},
        {"case differs", "/LIB/A", "/lib/AB/x.wav", "/lib/AB/x.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = c.path;
        RemapPathRoot(c.oldRoot, newRoot, path);
        EXPECT_EQ(path, c.expected);
    }
    std::string relative = "B/x.wav";
    RemapPathRoot("", newRoot, relative);
    EXPECT_EQ(relative, target) << "an empty root matches every path";
}

}  // namespace
}  // namespace korvel
