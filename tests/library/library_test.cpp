#include "library/library.h"

#include <gtest/gtest.h>

#include <cstring>

namespace korvel {
namespace {

// Every cache reader and the analysis start from a default record; a wrong
// default would be written into every palette as if it were measured.
TEST(LibraryRecords, FreshLibraryFileHoldsTheNotMeasuredDefaults) {
    const LibraryFile f;
    EXPECT_EQ(f.layoutClass, -1);
    EXPECT_EQ(f.midiNote, -1);
    EXPECT_EQ(f.mmMember, -1);
    EXPECT_EQ(f.brightness, 0.5f);
    EXPECT_EQ(f.spectralWeight, 0.5f);
    EXPECT_EQ(f.temporalCentroid, 0.5f);
    EXPECT_EQ(f.rmsDb, -100.0f);

    const float zeros[] = {f.duration, f.sampleRate, f.hfRatio, f.crestDb, f.peakPosition,
                           f.zeroCrossingRate, f.peakToRmsDb, f.spectralFlux, f.pitchHz,
                           f.pitchCents, f.pitchConfidence, f.spectralFlatness, f.harmonicity,
                           f.attackPosition, f.attackTime};
    for (float z : zeros) EXPECT_EQ(z, 0.0f);
    for (float band : f.bandEnergies) EXPECT_EQ(band, 0.0f);
    EXPECT_EQ(f.channels, 0);
    EXPECT_EQ(f.bitsPerSample, 0);
    EXPECT_EQ(f.interpretation, 0);
    EXPECT_EQ(f.fingerprint, 0u);
    EXPECT_EQ(f.size, 0u);
    EXPECT_EQ(f.mtime, 0);
    EXPECT_EQ(f.mmGroup, 0u);
    EXPECT_TRUE(f.path.empty() && f.name.empty() && f.description.empty() && f.fileId.empty());
}

TEST(LibraryRecords, FreshPaletteIsEnabledForEveryGroup) {
    const Palette p;
    EXPECT_TRUE(p.enabled);
    EXPECT_EQ(p.trackGroup, -1);
    EXPECT_FALSE(p.folderMissing);
    EXPECT_FALSE(p.savedPalette);
    EXPECT_FALSE(p.mmDisableGrouping);
    EXPECT_EQ(p.paletteInterpret, 0);
    EXPECT_EQ(p.scanned, 0);
}

TEST(LibraryRecords, FreshLibraryHasDirtyIndexesAndIdleThreads) {
    const Library lib;
    EXPECT_TRUE(lib.keywordIndex.dirty);
    EXPECT_TRUE(lib.fileIndexDirty);
    EXPECT_EQ(lib.maxScanThreads, 6);
    EXPECT_FALSE(lib.scanning.load());
    EXPECT_FALSE(lib.idHashing.load());
    EXPECT_FALSE(lib.scanThread.joinable());
    EXPECT_EQ(sizeof(lib.scanStatus), 256u);
    EXPECT_EQ(sizeof(lib.scanFolderName), 128u);
    EXPECT_EQ(sizeof(lib.lastScanError), 256u);
    EXPECT_EQ(std::strlen(lib.scanStatus), 0u);
    EXPECT_TRUE(lib.cacheFolder.empty());
}

}  // namespace
}  // namespace korvel
