#include "project/collect_audio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "library/file_id.h"
#include "project/fixed_text.h"
#include "support/full_disk.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

class CollectAudioTest : public ::testing::Test {
protected:
    test::TempDir dir;
    Project project;
    std::string folder = dir.file("Proj");

    // A stand-in sound file: collecting copies bytes and never decodes them.
    std::string Source(const std::string& relative, const std::string& content) {
        const std::string path = dir.file(relative);
        EXPECT_TRUE(test::WriteBytes(path, content));
        return path;
    }
    void AddLayer(const std::string& path, const FileId& id = {}) {
        LayerResult layer;
        layer.filepath = path;
        layer.fileId = id;
        project.results.push_back(layer);
    }
    std::string Copied(const std::string& name) { return test::ReadBytes((fs::path(folder) / "Audio" / name).string()); }
};

TEST_F(CollectAudioTest, SameNamesFromTwoFoldersGetSuffixesInPathOrder) {
    const std::string b = Source("lib/b/x.wav", "bbbb");
    const std::string a = Source("lib/a/x.wav", "aaa");
    const std::string noext = Source("lib/a/noext", "n1");
    const std::string noext2 = Source("lib/b/noext", "n2");
    AddLayer(b);
    AddLayer(a);
    AddLayer(noext);
    AddLayer(noext2);
    const CollectedAudioMap map = CollectProjectAudio(project, folder);
    EXPECT_EQ(map.at(a), "Audio/x.wav") << "the path that sorts first gets the plain name";
    EXPECT_EQ(map.at(b), "Audio/x_2.wav");
    EXPECT_EQ(map.at(noext), "Audio/noext");
    EXPECT_EQ(map.at(noext2), "Audio/noext_2");
    EXPECT_EQ(Copied("x.wav"), "aaa");
    EXPECT_EQ(Copied("x_2.wav"), "bbbb");

    // A second save finds every copy in place and gives the same names.
    EXPECT_EQ(CollectProjectAudio(project, folder), map);
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(folder) / "Audio"), fs::directory_iterator()), 4);
}

TEST_F(CollectAudioTest, FilesInsideAudioKeepTheirPlaceAndTheirNames) {
    // Inside, in a subfolder, and sorting after the outside source of the same name.
    const std::string inside = Source("Proj/Audio/zz/x.wav", "inside");
    const std::string outside = Source("A/x.wav", "outside");
    AddLayer(inside);
    AddLayer(outside);
    ASSERT_LT(outside, inside) << "the outside file is handled first";
    const CollectedAudioMap map = CollectProjectAudio(project, folder);
    EXPECT_EQ(map.at(inside), "Audio/zz/x.wav");
    EXPECT_EQ(map.at(outside), "Audio/x_2.wav") << "the inside file's name is reserved first";
    EXPECT_EQ(test::ReadBytes(inside), "inside");
}

TEST_F(CollectAudioTest, ReferencedFileInsideIsNeverOverwritten) {
    const std::string inside = Source("Proj/Audio/x.wav", "kept!");
    const std::string outside = Source("a/x.wav", "other");
    AddLayer(inside);
    AddLayer(outside);
    const CollectedAudioMap map = CollectProjectAudio(project, folder);
    EXPECT_EQ(map.at(inside), "Audio/x.wav");
    EXPECT_EQ(map.at(outside), "Audio/x_2.wav");
    EXPECT_EQ(Copied("x.wav"), "kept!");
    EXPECT_EQ(Copied("x_2.wav"), "other");
}

TEST_F(CollectAudioTest, DifferentFileAtDestinationIsLeftAndSameContentReused) {
    // Same size, different content: an earlier save's copy of another sound.
    Source("Proj/Audio/x.wav", "AAAA");
    const std::string source = Source("lib/x.wav", "BBBB");
    AddLayer(source);
    CollectedAudioMap map = CollectProjectAudio(project, folder);
    EXPECT_EQ(map.at(source), "Audio/x_2.wav");
    EXPECT_EQ(Copied("x.wav"), "AAAA");
    EXPECT_EQ(Copied("x_2.wav"), "BBBB");

    // The same content under the plain name is this source's copy.
    ASSERT_TRUE(test::WriteBytes(dir.file("Proj/Audio/x.wav"), "BBBB"));
    fs::remove(dir.file("Proj/Audio/x_2.wav"));
    map = CollectProjectAudio(project, folder);
    EXPECT_EQ(map.at(source), "Audio/x.wav");
    EXPECT_FALSE(fs::exists(dir.file("Proj/Audio/x_2.wav")));
}

// Sources with the same bytes used to share one copy. Each referenced path
// keeps a name of its own: one given out in this call is never handed to
// another source, whatever its content.
TEST_F(CollectAudioTest, SameContentUnderTwoPathsGetsTwoNames) {
    struct Case {
        const char* name;
        bool firstInside;  // the first path already lies in the Audio folder
    } cases[] = {{"both outside", false}, {"one already inside", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        project.results.clear();
        const std::string first = c.firstInside ? Source("Proj/Audio/x.wav", "same") : Source("lib/a/x.wav", "same");
        const std::string second = Source("lib/b/x.wav", "same");
        AddLayer(second);
        AddLayer(first);
        const CollectedAudioMap map = CollectProjectAudio(project, folder);
        EXPECT_EQ(map.at(first), "Audio/x.wav");
        EXPECT_EQ(map.at(second), "Audio/x_2.wav");
        EXPECT_EQ(Copied("x_2.wav"), "same");
        EXPECT_EQ(CollectProjectAudio(project, folder), map) << "and a second save gives the same names";
    }
}

std::atomic<int> gFingerprintReads{0};
bool CountingFingerprint(const std::string& path, std::uint64_t& fingerprint, std::uint64_t& size) {
    gFingerprintReads.fetch_add(1);
    return ComputeFileFingerprint(path, fingerprint, size);
}

void SetTime(const std::string& path, int64_t seconds) {
    fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                  std::chrono::sys_seconds(std::chrono::seconds(seconds))));
}

// Every save and auto-save used to read the head and tail of every audio file
// already in the folder, on the UI thread. What a save learns is kept by size
// and modification time: an unchanged save is a status and size test again,
// and any change to a copy or its source is noticed.
TEST_F(CollectAudioTest, AnUnchangedSaveReadsNoAudio) {
    SetCollectFingerprintReader(&CountingFingerprint);
    std::vector<std::string> sources;
    for (int i = 0; i < 6; ++i) {
        sources.push_back(Source("lib/" + std::to_string(i) + "/s.wav", std::string(1000 + i % 2, 'a' + i)));
        SetTime(sources.back(), 1600000000 + i);
        AddLayer(sources.back(), i == 0 ? FileId("00000000000000aa") : FileId());
    }
    // An earlier copy of one source, made by another run: learnt once.
    fs::create_directories(fs::path(folder) / "Audio");
    ASSERT_TRUE(test::WriteBytes(dir.file("Proj/Audio/s_4.wav"), test::ReadBytes(sources[3])));
    SetTime(dir.file("Proj/Audio/s_4.wav"), 1600000000);
    const CollectedAudioMap first = CollectProjectAudio(project, folder);

    struct Step {
        const char* name;
        std::function<void()> change;
        int reads;
    } steps[] = {
        {"unchanged", [] {}, 0},
        {"unchanged again", [] {}, 0},
        {"a copy rewritten with other bytes of its size",
         [&] {
             ASSERT_TRUE(test::WriteBytes(dir.file("Proj/Audio/s_3.wav"), std::string(1000, 'z')));
         },
         -1},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        gFingerprintReads = 0;
        const CollectedAudioMap map = CollectProjectAudio(project, folder);
        if (step.reads >= 0) {
            EXPECT_EQ(gFingerprintReads.load(), step.reads);
            EXPECT_EQ(map, first);
        } else {
            EXPECT_GT(gFingerprintReads.load(), 0);
            // The rewritten copy is no longer this source's: it gets a new name.
            EXPECT_NE(map.at(sources[2]), first.at(sources[2]));
            EXPECT_EQ(test::ReadBytes((fs::path(folder) / map.at(sources[2])).string()), test::ReadBytes(sources[2]));
        }
    }
    SetCollectFingerprintReader(nullptr);
}

TEST_F(CollectAudioTest, GathersPinnedAlloyAndBounceFilesSkippingMissing) {
    const std::string pinned = Source("lib/pinned.wav", "p");
    const std::string bed = Source("lib/bed.wav", "b");
    const std::string nested = Source("lib/nested.wav", "n");
    const std::string mid = Source("lib/mid.wav", "m");
    const std::string notAlloy = Source("lib/unused.wav", "u");
    Event clip;
    CopyText(clip.pinnedFile, pinned);
    clip.usePinnedFile = true;
    Event source;
    source.pinnedFiles = {nested};
    Event inner;
    inner.pinnedFiles = {bed};
    source.bounceSource = {inner};
    clip.bounceSource = {source};
    project.events.push_back(clip);
    Event unpinned;
    CopyText(unpinned.pinnedFile, notAlloy);  // not in use
    project.events.push_back(unpinned);
    LayerResult alloy;
    alloy.procMode = 3;
    alloy.filepath = dir.file("lib/missing.wav");
    alloy.alloyMid.filepath = mid;
    project.results.push_back(alloy);
    LayerResult plain;
    plain.alloyMid.filepath = notAlloy;  // only alloy layers use their sources
    project.results.push_back(plain);

    const CollectedAudioMap map = CollectProjectAudio(project, folder);
    EXPECT_EQ(map.size(), 4u);
    for (const std::string& path : {pinned, bed, nested, mid}) EXPECT_TRUE(map.contains(path)) << path;
    EXPECT_FALSE(map.contains(dir.file("lib/missing.wav"))) << "a missing file keeps its path";
    EXPECT_FALSE(map.contains(notAlloy));
}

TEST_F(CollectAudioTest, CopiesBecomeFurtherPathsOfTheirIdentity) {
    const std::string source = Source("lib/id.wav", "identity content");
    const FileId id = ComputeFileId(source).id;
    ASSERT_FALSE(id.empty());
    AddLayer(source, id);
    CollectProjectAudio(project, folder);
    fs::remove(source);
    EXPECT_EQ(ResolvePathById(id), (fs::weakly_canonical(folder) / "Audio" / "id.wav").string());
}

TEST_F(CollectAudioTest, FailedCopyKeepsTheSourcePathAndSaysSo) {
    const std::string source = Source("lib/y.wav", "y");
    AddLayer(source);
    // A file where the folder should be: nothing can be copied into it.
    ASSERT_TRUE(test::WriteBytes(dir.file("Proj/Audio"), "not a folder"));
    testing::internal::CaptureStdout();
    const CollectedAudioMap map = CollectProjectAudio(project, folder);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(map.at(source), source);
    EXPECT_TRUE(output.starts_with("[Project] Failed to collect " + source + ": ")) << output;
}

// A copy that does not fit is reported and leaves nothing under its name,
// not even an empty file at a retry: a later save would take a partial copy
// for the collected sound and keep it for good.
TEST_F(CollectAudioTest, AFullDiskLeavesNoPartialCopy) {
    test::FullDisk disk(64 * 1024);
    const std::string big = Source("lib/big.wav", std::string(100 * 1024, 'b'));
    const std::string small = Source("lib/small.wav", "small");
    AddLayer(big);
    AddLayer(small);
    const std::string target = disk.file("Proj");
    const int outcome = disk.Run([&] {
        testing::internal::CaptureStdout();
        for (int attempt = 0; attempt < 2; ++attempt) {
            const CollectedAudioMap map = CollectProjectAudio(project, target);
            if (map.at(big) != big || map.at(small) != "Audio/small.wav") return 1;
        }
        const std::string output = testing::internal::GetCapturedStdout();
        return output.starts_with("[Project] Failed to collect " + big + ": ") ? 0 : 2;
    });
    EXPECT_EQ(outcome, 0);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(target) / "Audio")) names.insert(entry.path().filename());
    EXPECT_EQ(names, std::set<std::string>{"small.wav"});
}

TEST_F(CollectAudioTest, NameThatCannotBeLookedUpFailsThatCopyOnly) {
    // A longest-possible name: its suffixed form is too long for the file
    // system, so the destination's status cannot be taken.
    const std::string name = std::string(251, 'n') + ".wav";
    const std::string first = Source("a/" + name, "first");
    const std::string second = Source("b/" + name, "second");
    const std::string other = Source("c/other.wav", "other");
    AddLayer(first);
    AddLayer(second);
    AddLayer(other);
    testing::internal::CaptureStdout();
    const CollectedAudioMap map = CollectProjectAudio(project, folder);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(map.at(first), "Audio/" + name);
    EXPECT_EQ(map.at(second), second);
    EXPECT_TRUE(output.starts_with("[Project] Failed to collect " + second + ": ")) << output;
    EXPECT_EQ(map.at(other), "Audio/other.wav");
}

TEST_F(CollectAudioTest, EmptyProjectStillMakesTheFolder) {
    EXPECT_TRUE(CollectProjectAudio(project, folder).empty());
    EXPECT_TRUE(fs::is_directory(fs::path(folder) / "Audio"));
}

TEST(RemapCollectedPath, EmptyMappedAndUnmapped) {
    const CollectedAudioMap map = {{"/a/x.wav", "Audio/x.wav"}};
    EXPECT_EQ(RemapCollectedPath(map, ""), "");
    EXPECT_EQ(RemapCollectedPath(map, "/a/x.wav"), "Audio/x.wav");
    EXPECT_EQ(RemapCollectedPath(map, "/b/x.wav"), "/b/x.wav");
}

}  // namespace
}  // namespace korvel
