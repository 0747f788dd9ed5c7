#include "library/library_cache_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "library/content_hash.h"
#include "library/file_id.h"
#include "library/library.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

// Every stored field, compared one by one so a failure names the field.
void ExpectSameStoredFields(const LibraryFile& a, const LibraryFile& b) {
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.duration, b.duration);
    EXPECT_EQ(a.sampleRate, b.sampleRate);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_EQ(a.bitsPerSample, b.bitsPerSample);
    EXPECT_EQ(a.bandEnergies, b.bandEnergies);
    EXPECT_EQ(a.brightness, b.brightness);
    EXPECT_EQ(a.hfRatio, b.hfRatio);
    EXPECT_EQ(a.spectralWeight, b.spectralWeight);
    EXPECT_EQ(a.crestDb, b.crestDb);
    EXPECT_EQ(a.peakPosition, b.peakPosition);
    EXPECT_EQ(a.zeroCrossingRate, b.zeroCrossingRate);
    EXPECT_EQ(a.peakToRmsDb, b.peakToRmsDb);
    EXPECT_EQ(a.rmsDb, b.rmsDb);
    EXPECT_EQ(a.temporalCentroid, b.temporalCentroid);
    EXPECT_EQ(a.spectralFlux, b.spectralFlux);
    EXPECT_EQ(a.pitchHz, b.pitchHz);
    EXPECT_EQ(a.midiNote, b.midiNote);
    EXPECT_EQ(a.pitchCents, b.pitchCents);
    EXPECT_EQ(a.pitchConfidence, b.pitchConfidence);
    EXPECT_EQ(a.spectralFlatness, b.spectralFlatness);
    EXPECT_EQ(a.harmonicity, b.harmonicity);
    EXPECT_EQ(a.attackPosition, b.attackPosition);
    EXPECT_EQ(a.attackTime, b.attackTime);
    EXPECT_EQ(a.fileId, b.fileId);
    EXPECT_EQ(a.fingerprint, b.fingerprint);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.mtime, b.mtime);
    EXPECT_EQ(a.mmGroup, b.mmGroup);
    EXPECT_EQ(a.layoutClass, b.layoutClass);
    EXPECT_EQ(a.interpretation, b.interpretation);
    EXPECT_EQ(a.description, b.description);
}

LibraryFile AnalysedFile(const std::string& folder, const std::string& name, float seed) {
    LibraryFile f;
    f.path = folder + "/" + name + ".wav";
    f.name = name;
    f.duration = 2.5f;
    f.sampleRate = 48000.0f;
    f.channels = 1;
    f.bitsPerSample = 24;
    f.bandEnergies = {1.0f, 0.25f, 0.125f, 0.5f, seed};
    f.brightness = 0.375f;
    f.hfRatio = 0.0625f;
    f.spectralWeight = 0.75f;
    f.crestDb = 12.5f;
    f.peakPosition = 0.25f;
    f.zeroCrossingRate = 0.03125f;
    f.peakToRmsDb = 12.5f;
    f.rmsDb = -18.25f;
    f.temporalCentroid = 0.4375f;
    f.spectralFlux = 0.1875f;
    f.pitchHz = 440.0f;
    f.midiNote = 69;
    f.pitchCents = -3.5f;
    f.pitchConfidence = 0.875f;
    f.spectralFlatness = 0.015625f;
    f.harmonicity = 0.625f;
    f.attackPosition = 0.0078125f;
    f.attackTime = 0.012f;
    f.fileId = "00112233445566" + std::to_string(static_cast<int>(seed * 10) + 10);
    f.fingerprint = 0xfedcba9876543210ull;
    f.size = 123456789012ull;
    f.mtime = -86400;
    f.mmGroup = 999;  // replaced by grouping on reading
    f.layoutClass = 1;
    f.interpretation = 2;
    f.description = "plain";
    return f;
}

class LibraryCacheFileTest : public ::testing::Test {
protected:
    // Reads `text` as the cache file "<name>.kvlib" of the temp folder.
    bool ReadText(const std::string& text, Palette& out, const std::string& name = "Text") {
        const std::string path = dir.file(name + ".kvlib");
        EXPECT_TRUE(test::WriteBytes(path, text));
        return ReadPaletteFile(path, out);
    }
    test::TempDir dir;
};

TEST_F(LibraryCacheFileTest, RoundTripKeepsEveryStoredField) {
    Palette palette;
    palette.folder = "/sfx/Rain and wind";
    palette.name = "ignored: the file's stem names the palette";
    palette.scanned = 1767225600;
    palette.savedPalette = true;
    palette.paletteInterpret = 3;
    palette.previousNames = {"Old rain", "Older rain"};
    palette.files = {AnalysedFile("/sfx/rain", "Rain_L", 0.1f), AnalysedFile("/sfx/rain", "Rain_R", 0.2f),
                     AnalysedFile("/sfx/rain", "Thunder", 0.3f)};
    palette.files[2].name = "tab\there, line\nfeed, return\r, back\\slash";
    palette.files[2].description = "a \\q stays, a final backslash too\\";
    palette.files[2].channels = 2;
    palette.files[2].fileId.clear();
    palette.files[2].fingerprint = 0;

    const std::string path = dir.file("My.Rain.kvlib");
    ASSERT_TRUE(WritePaletteFile(palette, path));
    Palette back;
    ASSERT_TRUE(ReadPaletteFile(path, back));

    EXPECT_EQ(back.name, "My.Rain");
    EXPECT_EQ(back.folder, palette.folder);
    EXPECT_EQ(back.scanned, palette.scanned);
    EXPECT_TRUE(back.savedPalette);
    EXPECT_EQ(back.paletteInterpret, 3);
    EXPECT_FALSE(back.mmDisableGrouping);
    EXPECT_EQ(back.previousNames, palette.previousNames);
    ASSERT_EQ(back.files.size(), 3u);

    const uint64_t group = ContentHash("/sfx/rain\nRain");
    std::vector<LibraryFile> expected = palette.files;
    expected[0].mmGroup = group;
    expected[1].mmGroup = group;
    expected[2].mmGroup = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        ExpectSameStoredFields(back.files[i], expected[i]);
    }
    EXPECT_EQ(back.files[0].mmMember, 0);
    EXPECT_EQ(back.files[1].mmMember, 1);
    EXPECT_EQ(back.files[2].mmMember, -1);

    // Stored identities reach the registry.
    FileIdResult known;
    ASSERT_TRUE(LookupFileId(palette.files[0].fileId, known));
    EXPECT_EQ(known.fingerprint, palette.files[0].fingerprint);
}

TEST_F(LibraryCacheFileTest, WritesTheExactText) {
    Palette palette;
    palette.folder = "/sfx/a";
    LibraryFile f;
    f.path = "/sfx/a/x.wav";
    f.name = "x";
    f.duration = 0.0000123456789f;
    f.sampleRate = 44100.0f;
    f.channels = 2;
    f.bitsPerSample = 16;
    f.bandEnergies = {0.5f, 1.0f, 0.0f, 0.0f, 0.0f};
    f.description = "d";
    palette.files = {f};
    const std::string path = dir.file("Exact.kvlib");
    ASSERT_TRUE(WritePaletteFile(palette, path));
    EXPECT_EQ(test::ReadBytes(path),
              "# Korvel SFX Library v8\n"
              "# folder: /sfx/a\n"
              "# files: 1\n"
              "/sfx/a/x.wav\tx\t1.23457e-05\t44100\t2\t16\t0.5\t1\t0\t0\t0\t"
              "0.5\t0\t0.5\t0\t0\t0\t0\t-100\t0.5\t0\t0\t-1\t0\t0\t0\t0\t0\t0\t"
              "\t0000000000000000\t0\t0\t0\t-1\t0\td\n");

    palette.files.clear();
    palette.scanned = 5;
    palette.savedPalette = true;
    palette.paletteInterpret = 2;
    palette.mmDisableGrouping = true;
    palette.previousNames = {"a", "b"};
    ASSERT_TRUE(WritePaletteFile(palette, path));
    EXPECT_EQ(test::ReadBytes(path),
              "# Korvel SFX Library v8\n# folder: /sfx/a\n# files: 0\n# scanned: 5\n"
              "# savedPalette: 1\n# paletteInterpret: 2\n# mmDisableGrouping: 1\n"
              "# previousName: a\n# previousName: b\n");
}

// Fields 3 to 29 of a line, all 1.
std::string Descriptors() {
    std::string s;
    for (int i = 3; i <= 29; ++i) s += "\t1";
    return s;
}

TEST_F(LibraryCacheFileTest, OlderVersionsAndDamagedFields) {
    struct Case {
        const char* name;
        std::string text;
        int64_t size;
        uint64_t fingerprint;
        int64_t mtime;
        int32_t layoutClass;
        int32_t interpretation;
        float duration;
        const char* fileId;
        const char* description;
    };
    const std::string head = "/a/x.wav\tx";
    const Case cases[] = {
        {"no version line is version 3: field 30 is the description",
         head + Descriptors() + "\tdesc\twith tab", 0, 0, 0, -1, 0, 1.0f, "", "desc\twith tab"},
        {"version 4 adds the identity",
         "# Korvel SFX Library v4\n" + head + Descriptors() + "\tabc\t00000000000000ff\t77\tdesc", 77, 255,
         0, -1, 0, 1.0f, "abc", "desc"},
        {"version 5 adds the time, nothing later",
         "# Korvel SFX Library v5\n" + head + Descriptors() + "\t\t0\t0\t-12\t5\t6", 0, 0, -12, -1, 0, 1.0f,
         "", "5\t6"},
        {"version 9 reads like 8",
         "# Korvel SFX Library v9\n" + head + Descriptors() + "\t\t1\t2\t3\t4\t5\t3\tend", 2, 1, 3, 5, 3, 1.0f,
         "", "end"},
        {"letters read as -1, 0, 0 and 0",
         "# Korvel SFX Library v8\n/a/x.wav\tx\tq" + std::string("\t1\t1\t1") +
             "\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1" +
             "\tid\tzz\tsize\t1\t1\tclass\tinterp\t",
         0, 0, 1, -1, 0, 0.0f, "id", ""},
        {"trailing text after a number is ignored",
         "# Korvel SFX Library v8\n" + head + Descriptors() + "\t\t1f\t12abc\t-3x\t1\t7zz\t+1\t", 12, 31, -3,
         7, 1, 1.0f, "", ""},
        {"out-of-range and unsigned-negative numbers are bad",
         "# Korvel SFX Library v8\n" + head + Descriptors() +
             "\t\t1ffffffffffffffff\t-5\t99999999999999999999\t1\t4294967296\t1\t",
         0, 0, 0, -1, 1, 1.0f, "", ""},
        {"a line holding only a path", "# Korvel SFX Library v8\n/a/x.wav", 0, 0, 0, -1, 0, 0.0f, "", ""},
        {"a bad version number keeps the version", "# Korvel SFX Library vX\n" + head + Descriptors() + "\td",
         0, 0, 0, -1, 0, 1.0f, "", "d"},
        {"CR LF line ends", "# Korvel SFX Library v8\r\n# folder: /a\r\n" + head + "\t3\r\n", 0, 0, 0, -1, 0,
         3.0f, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Palette p;
        ASSERT_TRUE(ReadText(c.text, p));
        ASSERT_EQ(p.files.size(), 1u);
        const LibraryFile& f = p.files[0];
        EXPECT_EQ(f.path, "/a/x.wav");
        EXPECT_EQ(static_cast<int64_t>(f.size), c.size);
        EXPECT_EQ(f.fingerprint, c.fingerprint);
        EXPECT_EQ(f.mtime, c.mtime);
        EXPECT_EQ(f.layoutClass, c.layoutClass);
        EXPECT_EQ(f.interpretation, c.interpretation);
        EXPECT_EQ(f.duration, c.duration);
        EXPECT_EQ(f.fileId, c.fileId);
        EXPECT_EQ(f.description, c.description);
        EXPECT_EQ(f.mmGroup, 0u);
    }
}

TEST_F(LibraryCacheFileTest, MissingFieldsReadAsZeroNotAsDefaults) {
    Palette p;
    ASSERT_TRUE(ReadText("# Korvel SFX Library v8\n/a/only.wav\n", p));
    ASSERT_EQ(p.files.size(), 1u);
    const LibraryFile& f = p.files[0];
    EXPECT_EQ(f.brightness, 0.0f);
    EXPECT_EQ(f.rmsDb, 0.0f);
    EXPECT_EQ(f.temporalCentroid, 0.0f);
    EXPECT_EQ(f.midiNote, 0);
    EXPECT_EQ(f.layoutClass, -1);
    EXPECT_TRUE(f.name.empty());
    EXPECT_TRUE(f.description.empty());
}

TEST_F(LibraryCacheFileTest, HeaderLines) {
    Palette p;
    ASSERT_TRUE(ReadText("/a/early.wav\n"
                         "# savedPalette: 0\n"
                         "# paletteInterpret: two\n"
                         "# paletteInterpret: 1\n"
                         "# paletteInterpret: x\n"
                         "# scanned: 12\n# scanned: soon\n"
                         "# folder: /first\n# folder: /second\n"
                         "# previousName: a\n# previousName: b\n"
                         "# something new: 1\n# files: 99\n"
                         "# mmDisableGrouping:\n"
                         "\n"
                         "\tno path\n",
                         p, "Headers"));
    EXPECT_EQ(p.name, "Headers");
    EXPECT_TRUE(p.savedPalette);
    EXPECT_EQ(p.paletteInterpret, 1);
    EXPECT_EQ(p.scanned, 12);
    EXPECT_EQ(p.folder, "/second");
    EXPECT_EQ(p.previousNames, (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(p.mmDisableGrouping);  // shorter than its prefix
    ASSERT_EQ(p.files.size(), 1u);
    EXPECT_EQ(p.files[0].path, "/a/early.wav");
}

TEST_F(LibraryCacheFileTest, DisabledGroupingClearsGroups) {
    Palette p;
    ASSERT_TRUE(ReadText("# Korvel SFX Library v8\n# mmDisableGrouping: 1\n"
                         "/r/Rain_L.wav\tRain_L\t1\t48000\t1\n/r/Rain_R.wav\tRain_R\t1\t48000\t1\n",
                         p));
    ASSERT_EQ(p.files.size(), 2u);
    EXPECT_TRUE(p.mmDisableGrouping);
    for (const LibraryFile& f : p.files) {
        EXPECT_EQ(f.mmGroup, 0u);
        EXPECT_EQ(f.mmMember, -1);
    }
    Palette grouped;
    ASSERT_TRUE(ReadText("/r/Rain_L.wav\tRain_L\t1\t48000\t1\n/r/Rain_R.wav\tRain_R\t1\t48000\t1\n", grouped));
    EXPECT_EQ(grouped.files[1].mmMember, 1);
    EXPECT_EQ(grouped.files[0].mmGroup, ContentHash("/r\nRain"));
}

TEST_F(LibraryCacheFileTest, WhatReadsAsFalse) {
    Palette folderOnly;
    EXPECT_TRUE(ReadText("# folder: /x\n", folderOnly));
    EXPECT_TRUE(folderOnly.files.empty());

    Palette empty;
    EXPECT_FALSE(ReadText("", empty));
    Palette noFolder;
    EXPECT_FALSE(ReadText("# Korvel SFX Library v8\n# folder: \n\tx\n", noFolder));

    Palette untouched;
    untouched.folder = "/keep";
    untouched.files.resize(2);
    EXPECT_FALSE(ReadPaletteFile(dir.file("missing.kvlib"), untouched));
    EXPECT_FALSE(ReadPaletteFile(dir.path().string(), untouched));
    EXPECT_FALSE(ReadPaletteFile("", untouched));
    EXPECT_EQ(untouched.folder, "/keep");
    EXPECT_EQ(untouched.files.size(), 2u);
}

// A library large enough to be formatted and read in parts on several
// threads: 40,000 records with distinct values and identities, some text
// fields needing escapes.
Palette LargePalette() {
    Palette palette;
    palette.folder = "/big";
    palette.scanned = 1767225600;
    palette.previousNames = {"Bigger"};
    palette.files.reserve(40000);
    for (int i = 0; i < 40000; ++i) {
        // Values of at most six digits, which read back exactly.
        LibraryFile f = AnalysedFile("/big/" + std::to_string(i / 1000), "f" + std::to_string(i), (i % 64) / 64.0f);
        char id[17];
        std::snprintf(id, sizeof id, "b1%014x", i);
        f.fileId = id;
        f.fingerprint = 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(i + 1);
        f.size = 1000 + static_cast<uint64_t>(i);
        f.mtime = 1600000000 + i;
        f.mmGroup = 0;
        f.duration = static_cast<float>(i % 4096) * 0.25f;
        if (i % 7 == 0) f.description = "line " + std::to_string(i) + "\twith\ttabs\nand a break";
        if (i % 11 == 0) f.name += "\t\\";
        palette.files.push_back(std::move(f));
    }
    return palette;
}

// The record's line as a palette of that record alone writes it.
std::string RecordLine(const LibraryFile& file) {
    Palette one;
    one.files = {file};
    const std::string text = FormatPaletteFile(one);
    size_t start = 0;
    for (int line = 0; line < 3; ++line) start = text.find('\n', start) + 1;
    return text.substr(start);
}

// Records formatted on several threads must come out whole, once each and in
// order, whatever the part boundaries, in the text and in the file; the same
// goes for a checkpoint's records given by pointer.
TEST_F(LibraryCacheFileTest, ALargePaletteWritesEveryRecordOnceInOrder) {
    const Palette palette = LargePalette();
    std::string expected = "# Korvel SFX Library v8\n# folder: /big\n# files: 40000\n# scanned: 1767225600\n"
                           "# previousName: Bigger\n";
    for (const LibraryFile& f : palette.files) expected += RecordLine(f);

    const std::string whole = FormatPaletteFile(palette);
    EXPECT_TRUE(whole == expected) << "sizes " << whole.size() << " and " << expected.size();

    std::vector<const LibraryFile*> pointers;
    for (const LibraryFile& f : palette.files) pointers.push_back(&f);
    EXPECT_TRUE(FormatPaletteFile(palette, pointers) == expected);

    // The writers put the parts into the file one after the other.
    const std::string path = dir.file("Big.kvlib");
    ASSERT_TRUE(WritePaletteFile(palette, path));
    EXPECT_TRUE(test::ReadBytes(path) == expected);
    ASSERT_TRUE(WritePaletteFile(palette, pointers, dir.file("Checkpoint.kvlib")));
    EXPECT_TRUE(test::ReadBytes(dir.file("Checkpoint.kvlib")) == expected);
}

// Reading a large cache file in parts gives the records line-by-line reading
// gives: damaged and blank lines dropped wherever they fall, CR LF ends read
// as LF, identities registered in file order (the first path of an id stays
// its path), and a version line among the records applying to the records
// after it.
TEST_F(LibraryCacheFileTest, ALargeCacheFileReadsAsLineByLine) {
    Palette palette = LargePalette();
    palette.files[3].fileId = "b2sharedid000001";
    palette.files[39000].fileId = "b2sharedid000001";
    const std::string written = FormatPaletteFile(palette);

    struct Case {
        const char* name;
        const char* inserted;  // before every 997th record
        bool crlf;             // every 5th record ends in CR LF
        size_t versionLineAt;  // a version 4 line before this record; 0 = none
    };
    const Case cases[] = {
        {"as written", "", false, 0},
        {"blank, CR-only and pathless lines among the records", "\n\r\n\tno path\n", true, 0},
        {"a version line among the records", "", false, 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        size_t lineStart = 0;
        for (int header = 0; header < 5; ++header) lineStart = written.find('\n', lineStart) + 1;
        text = written.substr(0, lineStart);
        std::vector<std::string> lines;
        for (size_t i = 0; i < palette.files.size(); ++i) {
            const size_t lineEnd = written.find('\n', lineStart);
            lines.push_back(written.substr(lineStart, lineEnd - lineStart));
            if (i % 997 == 0) text += c.inserted;
            if (c.versionLineAt != 0 && i == c.versionLineAt) text += "# Korvel SFX Library v4\n";
            text += written.substr(lineStart, lineEnd - lineStart);
            text += c.crlf && i % 5 == 0 ? "\r\n" : "\n";
            lineStart = lineEnd + 1;
        }

        Palette back;
        ASSERT_TRUE(ReadText(text, back, "Big"));
        EXPECT_EQ(back.folder, "/big");
        EXPECT_EQ(back.scanned, 1767225600);
        ASSERT_EQ(back.files.size(), palette.files.size());
        for (size_t i = 0; i < palette.files.size() && !HasFailure(); ++i) {
            SCOPED_TRACE(i);
            LibraryFile expected = palette.files[i];
            if (c.versionLineAt != 0 && i >= c.versionLineAt) {
                // Version 4 ends with the size: the time and the fields
                // after it read as the description.
                expected.mtime = 0;
                expected.layoutClass = -1;
                expected.interpretation = 0;
                size_t rest = 0;
                for (int field = 0; field < 32; ++field) rest = lines[i].find('\t', rest) + 1;
                expected.description = UnescapeLibraryField(lines[i].substr(rest));
            }
            ExpectSameStoredFields(back.files[i], expected);
        }
        FileIdResult shared;
        ASSERT_TRUE(LookupFileId("b2sharedid000001", shared));
        EXPECT_EQ(shared.path, palette.files[3].path);
    }
}

TEST(LibraryField, EscapeAndUnescape) {
    struct Case {
        const char* name;
        std::string raw, escaped;
    };
    const Case cases[] = {
        {"plain", "Rain on a tin roof", "Rain on a tin roof"},
        {"the four escapes", "a\\b\tc\nd\re", "a\\\\b\\tc\\nd\\re"},
        {"backslash before a letter", "\\q", "\\\\q"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EscapeLibraryField(c.raw), c.escaped);
        EXPECT_EQ(UnescapeLibraryField(c.escaped), c.raw);
    }
    EXPECT_EQ(UnescapeLibraryField("\\q and \\"), "\\q and \\");
}

}  // namespace
}  // namespace korvel
