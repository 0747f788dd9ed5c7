// Identity hashing in the background and pinned-file identities of events.
#include "library/id_hashing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "library/file_id.h"
#include "library/library.h"
#include "library/library_cache_file.h"
#include "project/event.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class IdHashing : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.file("cache"));
        library.cacheFolder = dir.file("cache");
    }
    void TearDown() override {
        library.idHashing.store(false);
        if (library.idHashThread.joinable()) library.idHashThread.join();
    }

    std::string File(const std::string& name, const std::string& content) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::WriteBytes(path, content));
        return path;
    }

    Palette& AddPalette(const std::string& name, std::vector<LibraryFile> files) {
        Palette p;
        p.name = name;
        p.files = std::move(files);
        library.palettes.push_back(std::move(p));
        return library.palettes.back();
    }

    static LibraryFile Record(const std::string& path, const std::string& id = {}, uint64_t fp = 0) {
        LibraryFile f;
        f.path = path;
        f.fileId = id;
        f.fingerprint = fp;
        return f;
    }

    // Runs the batch to its end, then applies it as the next frame would.
    void HashAndApply() {
        StartFileIdHashing(library);
        if (library.idHashThread.joinable()) library.idHashThread.join();
        ApplyFileIdHashResults(library);
    }

    std::string cacheFile(const std::string& name) { return dir.file("cache/" + name + ".kvlib"); }

    TempDir dir;
    Library library;
};

TEST_F(IdHashing, FilesWithoutIdentityGetOneAndTheCacheFileIsRewritten) {
    const std::string a = File("a.wav", "first content");
    const std::string missing = dir.file("missing.wav");
    AddPalette("Hits", {Record(a), Record(missing)});

    HashAndApply();
    const LibraryFile& f = library.palettes[0].files[0];
    EXPECT_EQ(f.fileId.size(), 16u);
    EXPECT_NE(f.fingerprint, 0u);
    EXPECT_EQ(f.size, std::string("first content").size());
    EXPECT_TRUE(library.palettes[0].files[1].fileId.empty());  // unreadable: tried next run
    EXPECT_FALSE(library.idHashing.load());
    EXPECT_TRUE(library.idHashRewrite.empty());

    Palette back;
    ASSERT_TRUE(ReadPaletteFile(cacheFile("Hits"), back));
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files[0].fileId, f.fileId);
}

TEST_F(IdHashing, NothingToHashStartsNoThread) {
    const std::string a = File("a.wav", "content");
    AddPalette("Done", {Record(a, "0123456789abcdef", 42)});
    HashAndApply();
    EXPECT_FALSE(library.idHashThread.joinable());
    EXPECT_FALSE(fs::exists(cacheFile("Done")));
}

TEST_F(IdHashing, AFileWithAnIdButNoFingerprintKeepsItsId) {
    const std::string a = File("a.wav", "content with stale id");
    AddPalette("Old", {Record(a, "0123456789abcdef", 0)});
    HashAndApply();
    const LibraryFile& f = library.palettes[0].files[0];
    EXPECT_EQ(f.fileId, "0123456789abcdef");
    EXPECT_EQ(f.fingerprint, 0u);
    // Its palette is still rewritten.
    EXPECT_TRUE(fs::exists(cacheFile("Old")));
}

TEST_F(IdHashing, SameContentInTwoPalettesSharesOneId) {
    const std::string a = File("one/a.wav", "identical bytes");
    const std::string b = File("two/b.wav", "identical bytes");
    AddPalette("One", {Record(a)});
    AddPalette("Two", {Record(b)});
    HashAndApply();
    EXPECT_FALSE(library.palettes[0].files[0].fileId.empty());
    EXPECT_EQ(library.palettes[0].files[0].fileId, library.palettes[1].files[0].fileId);
}

TEST_F(IdHashing, ResultsFollowPalettesByName) {
    const std::string a = File("a.wav", "renamed meanwhile");
    AddPalette("Before", {Record(a)});
    StartFileIdHashing(library);
    library.idHashThread.join();
    library.palettes[0].name = "After";  // renamed while hashing ran
    ApplyFileIdHashResults(library);
    EXPECT_TRUE(library.palettes[0].files[0].fileId.empty());
    EXPECT_FALSE(fs::exists(cacheFile("After")));
}

TEST_F(IdHashing, RewriteWaitsForTheBatchToEnd) {
    const std::string a = File("a.wav", "waiting");
    AddPalette("P", {Record(a)});
    {
        FileIdHashResult r{"P", a, "00000000000000aa", 7, 7};
        std::lock_guard lock(library.idHashMutex);
        library.idHashResults.push_back(r);
    }
    library.idHashing.store(true);  // as if the thread were still running
    ApplyFileIdHashResults(library);
    EXPECT_EQ(library.palettes[0].files[0].fileId, "00000000000000aa");
    EXPECT_EQ(library.idHashRewrite, std::vector<std::string>{"P"});
    EXPECT_FALSE(fs::exists(cacheFile("P")));

    library.idHashing.store(false);
    ApplyFileIdHashResults(library);
    EXPECT_TRUE(library.idHashRewrite.empty());
    EXPECT_TRUE(fs::exists(cacheFile("P")));
}

TEST_F(IdHashing, StoppedBatchPublishesNothingFurther) {
    std::vector<LibraryFile> files;
    for (int i = 0; i < 50; ++i) {
        const std::string n = std::to_string(i);
        files.push_back(Record(File(std::string("f").append(n), std::string("x").append(n))));
    }
    AddPalette("Many", files);
    library.idHashing.store(true);
    std::vector<FileIdHashItem> batch;
    for (const LibraryFile& f : files) batch.push_back({"Many", f.path});
    library.idHashing.store(false);  // stopped before the first file
    FileIdHashThread(library, batch);
    EXPECT_TRUE(library.idHashResults.empty());
}

TEST(EnsureEventFileIds, FillsMissingIdsOfPinnedFiles) {
    TempDir dir;
    const std::string a = dir.file("a.wav");
    const std::string single = dir.file("single.wav");
    ASSERT_TRUE(test::WriteBytes(a, "pinned a"));
    ASSERT_TRUE(test::WriteBytes(single, "pinned single"));

    Event event;
    event.pinnedFiles = {a, dir.file("gone.wav"), ""};
    event.pinnedFileIds = {"", "", "", "extra beyond the list"};
    std::strcpy(event.pinnedFile, single.c_str());
    EnsureEventFileIds(event);
    ASSERT_EQ(event.pinnedFileIds.size(), 3u);
    EXPECT_EQ(event.pinnedFileIds[0].size(), 16u);
    EXPECT_TRUE(event.pinnedFileIds[1].empty());
    EXPECT_TRUE(event.pinnedFileIds[2].empty());
    EXPECT_EQ(event.pinnedFileId.size(), 16u);

    const std::string kept = event.pinnedFileIds[0];
    event.pinnedFileIds[0] = "feedfacefeedface";  // an existing id is never replaced
    EnsureEventFileIds(event);
    EXPECT_EQ(event.pinnedFileIds[0], "feedfacefeedface");
}

}  // namespace
}  // namespace korvel
