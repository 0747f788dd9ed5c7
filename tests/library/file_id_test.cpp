#include "library/file_id.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "library/content_hash.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::TempDir;
using test::WriteBytes;

// The fingerprint as described, written out longhand over the whole content
// held in memory, independent of the file reader and of ContentHashFold.
std::uint64_t ReferenceFingerprint(const std::string& content) {
    std::uint64_t h = 0x14650FB0739D0383ull;
    auto fold = [&h](unsigned char b) { h = (h ^ b) * 0x100000001B3ull; };
    const std::size_t n = content.size();
    for (std::size_t i = 0; i < std::min<std::size_t>(n, 65536); ++i) fold(static_cast<unsigned char>(content[i]));
    if (n > 65536) {
        for (std::size_t i = n - 65536; i < n; ++i) fold(static_cast<unsigned char>(content[i]));
    }
    for (int i = 0; i < 8; ++i) fold(static_cast<unsigned char>(static_cast<std::uint64_t>(n) >> (8 * i)));
    return h == 0 ? 1 : h;
}

// Content unique to this process and call, so the process-wide registry
// never sees the same bytes from two tests.
std::string RandomContent(std::size_t size) {
    static std::mt19937_64 engine(std::random_device{}());
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(engine());
    return bytes;
}

FileIdEntry CopyEntry(const FileId& id) {
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);
    return registry.entries.at(id);
}

std::int32_t Revision() {
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);
    return registry.revision;
}

// Any registration changes the revision, which makes cached existence stale.
void BumpRevision() { RegisterFileId({"ffffffffffffffff", "", 0, 0}); }

TEST(ContentHash, KnownValuesAndZeroGuard) {
    EXPECT_EQ(ContentHash(""), 0x14650FB0739D0383ull);
    EXPECT_EQ(ContentHash("korvel"), 0x97989718fb6eb258ull);
    // A real 0 would read as "no hash".
    EXPECT_EQ(ContentHashFinish(0), 1u);
    EXPECT_EQ(ContentHashFinish(42), 42u);
    // Folding in pieces equals folding at once.
    std::uint64_t h = ContentHashFold(kContentHashStart, "kor", 3);
    EXPECT_EQ(ContentHashFinish(ContentHashFold(h, "vel", 3)), ContentHash("korvel"));
}

TEST(FileFingerprint, MatchesIndependentFoldAcrossRegionBoundaries) {
    struct Case {
        const char* name;
        std::size_t size;
    };
    const Case cases[] = {
        {"empty", 0},           {"one byte", 1},         {"just under head", 65535},
        {"exactly head", 65536}, {"one past head", 65537}, {"overlap end", 131071},
        {"two regions", 131072}, {"long", 300001},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string content = RandomContent(c.size);
        std::string path = dir.file(std::string(c.name) + ".bin");
        ASSERT_TRUE(WriteBytes(path, content));
        std::uint64_t fingerprint = 0, size = 0;
        ASSERT_TRUE(ComputeFileFingerprint(path, fingerprint, size));
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(fingerprint, ReferenceFingerprint(content));
    }
}

TEST(FileFingerprint, FixedValuesOfTinyFiles) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {"empty: eight zero size bytes only", "", 0x47fe0d7eaf8e51e3ull},
        {"one byte 'a'", "a", 0xb67346077f45bfe7ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file("tiny.bin");
        ASSERT_TRUE(WriteBytes(path, c.content));
        std::uint64_t fingerprint = 0, size = 99;
        ASSERT_TRUE(ComputeFileFingerprint(path, fingerprint, size));
        EXPECT_EQ(fingerprint, c.expected);
        EXPECT_EQ(size, c.content.size());
    }
}

TEST(FileFingerprint, OnlyHeadTailAndSizeCount) {
    TempDir dir;
    std::string a = RandomContent(200000);
    std::string b = a;
    b[100000] ^= 0x55;  // middle byte, outside both regions
    std::string c = a;
    c[199999] ^= 0x55;  // last byte, inside the tail region
    ASSERT_TRUE(WriteBytes(dir.file("a"), a));
    ASSERT_TRUE(WriteBytes(dir.file("b"), b));
    ASSERT_TRUE(WriteBytes(dir.file("c"), c));
    std::uint64_t fa, fb, fc, size;
    ASSERT_TRUE(ComputeFileFingerprint(dir.file("a"), fa, size));
    ASSERT_TRUE(ComputeFileFingerprint(dir.file("b"), fb, size));
    ASSERT_TRUE(ComputeFileFingerprint(dir.file("c"), fc, size));
    EXPECT_EQ(fa, fb);
    EXPECT_NE(fa, fc);

    // Same head and tail therefore means the same identity.
    FileIdResult ida = ComputeFileId(dir.file("a"));
    FileIdResult idb = ComputeFileId(dir.file("b"));
    EXPECT_EQ(ida.id, idb.id);
    EXPECT_NE(ComputeFileId(dir.file("c")).id, ida.id);
}

TEST(FileFingerprint, UnreadableInputGivesNoIdentity) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"empty path", ""},
        {"missing file", dir.file("gone.wav")},
        {"folder", dir.path().string()},
        {"dangling link", dir.file("link.wav")},
    };
    std::error_code ec;
    std::filesystem::create_symlink(dir.file("nowhere.wav"), dir.file("link.wav"), ec);
    ASSERT_FALSE(ec);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint64_t fingerprint = 7, size = 7;
        EXPECT_FALSE(ComputeFileFingerprint(c.path, fingerprint, size));
        std::int32_t before = Revision();
        FileIdResult result = ComputeFileId(c.path);
        EXPECT_TRUE(result.id.empty());
        EXPECT_EQ(result.path, c.path);
        EXPECT_EQ(result.fingerprint, 0u);
        EXPECT_EQ(result.size, 0u);
        EXPECT_EQ(Revision(), before) << "a failed identity must not change the registry";
    }
}

TEST(FileIdText, SixteenLowerCaseHexDigitsInBufferOrder) {
    struct Case {
        const char* name;
        unsigned char bytes[8];
        const char* expected;
    };
    const Case cases[] = {
        {"zeros", {0, 0, 0, 0, 0, 0, 0, 0}, "0000000000000000"},
        {"order", {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}, "0123456789abcdef"},
        {"high bytes lower case", {0xff, 0xfe, 0xa0, 0x0a, 0xb1, 0x1b, 0xc9, 0x9c}, "fffea00ab11bc99c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatFileId(c.bytes), c.expected);
    }

    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.file("x"), RandomContent(10)));
    ASSERT_TRUE(WriteBytes(dir.file("y"), RandomContent(10)));
    FileId x = ComputeFileId(dir.file("x")).id;
    FileId y = ComputeFileId(dir.file("y")).id;
    for (const FileId& id : {x, y}) {
        ASSERT_EQ(id.size(), 16u);
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    }
    EXPECT_NE(x, y);
}

TEST(FileIdAlternates, ExactMatchesSkippedAndNinthDropped) {
    FileIdEntry entry;
    entry.path = "/a/current.wav";
    AddAlternatePath(entry, "");
    AddAlternatePath(entry, "/a/current.wav");
    for (int i = 1; i <= 8; ++i) AddAlternatePath(entry, "/b/" + std::to_string(i) + ".wav");
    AddAlternatePath(entry, "/b/3.wav");
    AddAlternatePath(entry, "/b/9.wav");
    ASSERT_EQ(entry.alternates.size(), 8u);
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(entry.alternates[i - 1], "/b/" + std::to_string(i) + ".wav");

    FileIdEntry small;
    small.path = "/a.wav";
    AddAlternatePath(small, "/A.wav");
    AddAlternatePath(small, "/a.wav/");
    EXPECT_EQ(small.alternates, (std::vector<std::string>{"/A.wav", "/a.wav/"}));
}

TEST(FileIdMatching, SizeZeroAcceptsAnySize) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.file("ten"), std::string(10, 'x')));
    struct Case {
        const char* name;
        std::string path;
        std::uint64_t entrySize;
        bool expected;
    };
    const Case cases[] = {
        {"size unknown", dir.file("ten"), 0, true},
        {"size equal", dir.file("ten"), 10, true},
        {"size differs", dir.file("ten"), 11, false},
        {"missing file", dir.file("none"), 0, false},
        {"empty path", "", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileIdEntry entry;
        entry.size = c.entrySize;
        EXPECT_EQ(FileMatchesEntry(c.path, entry), c.expected);
    }
}

TEST(FileIdRegistryTest, CopyThenMoveKeepsOneIdentity) {
    TempDir dir;
    std::string content = RandomContent(70000);
    std::string original = dir.file("original.wav");
    std::string copy = dir.file("copy.wav");
    ASSERT_TRUE(WriteBytes(original, content));
    ASSERT_TRUE(WriteBytes(copy, content));

    FileIdResult first = ComputeFileId(original);
    ASSERT_FALSE(first.id.empty());
    EXPECT_EQ(first.path, original);

    // The copy is known content: same id, the entry's current path, and the
    // copy's path recorded as an alternate.
    FileIdResult second = ComputeFileId(copy);
    EXPECT_EQ(second.id, first.id);
    EXPECT_EQ(second.path, original);
    EXPECT_EQ(second.fingerprint, first.fingerprint);
    EXPECT_EQ(CopyEntry(first.id).alternates, std::vector<std::string>{copy});

    EXPECT_EQ(ResolvePathById(first.id), original);

    // Deleted from disk: the cached answer holds until the registry changes.
    ASSERT_TRUE(std::filesystem::remove(original));
    EXPECT_EQ(ResolvePathById(first.id), original);

    BumpRevision();
    EXPECT_EQ(ResolvePathById(first.id), copy);
    FileIdEntry entry = CopyEntry(first.id);
    EXPECT_EQ(entry.path, copy);
    EXPECT_EQ(entry.alternates, std::vector<std::string>{original});
    EXPECT_TRUE(entry.exists);

    // Promotion itself does not change the revision, so the answer is cached.
    std::int32_t before = Revision();
    EXPECT_EQ(ResolvePathById(first.id), copy);
    EXPECT_EQ(Revision(), before);

    FileIdResult looked;
    ASSERT_TRUE(LookupFileId(first.id, looked));
    EXPECT_EQ(looked.path, copy);

    // Both gone: empty after the next change.
    ASSERT_TRUE(std::filesystem::remove(copy));
    BumpRevision();
    EXPECT_EQ(ResolvePathById(first.id), "");
    EXPECT_FALSE(CopyEntry(first.id).exists);
}

TEST(FileIdRegistryTest, AlternateWithWrongSizeIsNotPromoted) {
    TempDir dir;
    std::string content = RandomContent(500);
    ASSERT_TRUE(WriteBytes(dir.file("a.wav"), content));
    FileIdResult id = ComputeFileId(dir.file("a.wav"));
    RegisterFileId({id.id, dir.file("other.wav"), 0, 0});
    ASSERT_TRUE(WriteBytes(dir.file("other.wav"), content + "extra"));
    ASSERT_TRUE(std::filesystem::remove(dir.file("a.wav")));
    BumpRevision();
    EXPECT_EQ(ResolvePathById(id.id), "");

    ASSERT_TRUE(WriteBytes(dir.file("other.wav"), content));
    BumpRevision();
    EXPECT_EQ(ResolvePathById(id.id), dir.file("other.wav"));
}

TEST(FileIdRegistryTest, RegisteredIdForKnownContentBecomesAlias) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.file("a.wav"), RandomContent(1000)));
    FileIdResult known = ComputeFileId(dir.file("a.wav"));

    const FileId stored = "00aa00aa00aa00a1";
    RegisterFileId({stored, dir.file("elsewhere.wav"), known.fingerprint, known.size});

    FileIdResult looked;
    ASSERT_TRUE(LookupFileId(stored, looked));
    EXPECT_EQ(looked.id, known.id);
    EXPECT_EQ(looked.path, dir.file("a.wav"));
    EXPECT_EQ(ResolvePathById(stored), dir.file("a.wav"));
    EXPECT_EQ(CopyEntry(known.id).alternates, std::vector<std::string>{dir.file("elsewhere.wav")});
    {
        FileIdRegistry& registry = GetFileIdRegistry();
        std::lock_guard guard(registry.lock);
        EXPECT_FALSE(registry.entries.contains(stored));
        EXPECT_EQ(CanonicalFileId(registry, stored), known.id);
    }

    // Registering the alias again adds to the canonical entry, never a second level.
    RegisterFileId({stored, dir.file("third.wav"), known.fingerprint, known.size});
    EXPECT_EQ(CopyEntry(known.id).alternates,
              (std::vector<std::string>{dir.file("elsewhere.wav"), dir.file("third.wav")}));
}

TEST(FileIdRegistryTest, RegisterKeepsFirstPathAndFillsFingerprintOnce) {
    const FileId id = "00bb00bb00bb00b1";
    RegisterFileId({id, "/first/path.wav", 0, 0});
    RegisterFileId({id, "/second/path.wav", 0x1234, 99});
    FileIdEntry entry = CopyEntry(id);
    EXPECT_EQ(entry.path, "/first/path.wav");
    EXPECT_EQ(entry.alternates, std::vector<std::string>{"/second/path.wav"});
    EXPECT_EQ(entry.fingerprint, 0x1234u);
    EXPECT_EQ(entry.size, 99u);

    // A later fingerprint does not replace the first one.
    RegisterFileId({id, "", 0x5678, 5});
    entry = CopyEntry(id);
    EXPECT_EQ(entry.fingerprint, 0x1234u);
    EXPECT_EQ(entry.size, 99u);

    // Empty path, fingerprint already set: only the revision moves.
    std::int32_t before = Revision();
    RegisterFileId({id, "", 0x1234, 99});
    EXPECT_EQ(Revision(), before + 1);
    FileIdEntry after = CopyEntry(id);
    EXPECT_EQ(after.path, entry.path);
    EXPECT_EQ(after.alternates, entry.alternates);

    // The filled-in fingerprint is now findable.
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);
    EXPECT_EQ(FindIdByFingerprint(registry, 0x1234, 99), id);
    EXPECT_EQ(FindIdByFingerprint(registry, 0x1234, 98), std::nullopt);
    EXPECT_EQ(FindIdByFingerprint(registry, 0, 99), std::nullopt);
}

TEST(FileIdRegistryTest, EmptyIdsChangeNothing) {
    std::int32_t before = Revision();
    RegisterFileId({"", "/x.wav", 1, 1});
    FileIdResult out;
    EXPECT_FALSE(LookupFileId("", out));
    EXPECT_EQ(ResolvePathById(""), "");
    EXPECT_EQ(ResolveFileId("", "/x.wav"), "");
    EXPECT_EQ(Revision(), before);
    EXPECT_FALSE(LookupFileId("0123012301230123", out));
}

TEST(FileIdRegistryTest, ResolveFileIdRegistersFallbackOnlyWhenGiven) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.file("there.wav"), "abc"));
    struct Case {
        const char* name;
        FileId id;
        std::string fallback;
        std::string expected;
        bool registers;
    };
    const Case cases[] = {
        {"no fallback", "00cc00cc00cc00c1", "", "", false},
        {"existing fallback", "00cc00cc00cc00c2", dir.file("there.wav"), dir.file("there.wav"), true},
        {"missing fallback", "00cc00cc00cc00c3", dir.file("gone.wav"), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t before = Revision();
        EXPECT_EQ(ResolveFileId(c.id, c.fallback), c.expected);
        FileIdResult out;
        EXPECT_EQ(LookupFileId(c.id, out), c.registers);
        EXPECT_EQ(Revision(), before + (c.registers ? 1 : 0));
        if (c.registers) {
            EXPECT_EQ(out.path, c.fallback);
            EXPECT_EQ(out.fingerprint, 0u);
            EXPECT_EQ(out.size, 0u);
        }
    }

    // A known id keeps its own path whatever fallback is given.
    EXPECT_EQ(ResolveFileId("00cc00cc00cc00c2", dir.file("other.wav")), dir.file("there.wav"));
}

}  // namespace
}  // namespace korvel
