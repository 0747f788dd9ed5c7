#include "project/thumbnail.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <array>
#include <filesystem>
#include <string>

#include "app/platform_hooks.h"
#include "project/app_state.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

// A frame whose pixel (x, y) is given by `color`; rows padded by `padding`
// bytes as a mapped back buffer may be.
template <typename Color>
ThumbnailFrame MakeFrame(int width, int height, Color color, std::size_t padding = 0) {
    ThumbnailFrame frame;
    frame.width = width;
    frame.height = height;
    frame.rowPitch = static_cast<std::size_t>(width) * 4 + padding;
    frame.pixels.assign(frame.rowPitch * height, 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = frame.pixels.data() + frame.rowPitch * y + x * 4;
            const auto rgba = color(x, y);
            for (int c = 0; c < 4; ++c) p[c] = rgba[c];
        }
    }
    return frame;
}

TEST(Thumbnail, HeightFollowsTheWindowShape) {
    struct Case {
        const char* name;
        int width, height, expected;
    };
    const Case cases[] = {
        {"1600 x 900", 1600, 900, 225},
        {"1280 x 720", 1280, 720, 225},
        {"narrower than the thumbnail is scaled up", 200, 100, 200},
        {"very wide and flat", 5000, 5, 1},
        {"empty", 0, 600, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ThumbnailHeight(c.width, c.height), c.expected);
    }
}

TEST(Thumbnail, PathReplacesTheLastProjectExtension) {
    EXPECT_EQ(ThumbnailPathFor("/p/Film.kvproj/Film.kvproj"), "/p/Film.kvproj/Film.thumb.png");
    EXPECT_EQ(ThumbnailPathFor("/p/Film"), "/p/Film.thumb.png");
}

// Halving averages each 2 × 2 block (all weights 0.25), which catches a
// shifted sample grid, swapped axes or a row pitch taken as the width.
TEST(Thumbnail, HalvingAveragesBlocksAndIgnoresRowPadding) {
    auto color = [](int x, int y) {
        return std::array<uint8_t, 4>{static_cast<uint8_t>(x % 256), static_cast<uint8_t>(y % 256),
                                      static_cast<uint8_t>((x * 3 + y * 5) % 256), 7};
    };
    const ThumbnailFrame frame = MakeFrame(800, 450, color, 36);
    const std::vector<uint8_t> out = ScaleThumbnail(frame);
    ASSERT_EQ(out.size(), 400u * 225u * 4u);
    for (int i = 0; i < 225; ++i) {
        for (int j = 0; j < 400; ++j) {
            const uint8_t* p = out.data() + (i * 400 + j) * 4;
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) sum += color(2 * j + dx, 2 * i + dy)[c];
                const int expected = (sum * 25 + 50) / 100;  // floor(mean + 0.5)
                ASSERT_EQ(p[c], expected) << "row " << i << " column " << j << " channel " << c;
            }
            ASSERT_EQ(p[3], 255);
        }
    }
}

// Scaling up clamps at both edges: the first and last output columns take
// the first and last source columns unblended.
TEST(Thumbnail, ScalingUpClampsAtTheEdges) {
    auto ramp = [](int x, int) {
        const uint8_t v = static_cast<uint8_t>(x * 2);
        return std::array<uint8_t, 4>{v, v, v, 255};
    };
    const std::vector<uint8_t> out = ScaleThumbnail(MakeFrame(100, 50, ramp));
    ASSERT_EQ(out.size(), 400u * 200u * 4u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[399 * 4], 198);
    // Column 6 samples x = 1.125: 2 × 1.125 = 2.25, rounded to 2.
    EXPECT_EQ(out[6 * 4], 2);
    // Column 10 samples x = 2.125: 4.25 → 4; column 14 samples 3.125: 6.25 → 6.
    EXPECT_EQ(out[10 * 4], 4);
    EXPECT_EQ(out[14 * 4], 6);
}

// Each sample is multiplied by its x weight and then by its y weight in
// single precision; pre-multiplying the two weights rounds this pixel
// (5.9999995 before flooring) up to 6.
TEST(Thumbnail, BlendRoundsAsSampleTimesXWeightTimesYWeight) {
    auto columns = [](int x, int) {
        const uint8_t v = x == 0 ? 5 : 205;
        return std::array<uint8_t, 4>{v, v, v, 255};
    };
    const std::vector<uint8_t> out = ScaleThumbnail(MakeFrame(2, 2, columns));
    ASSERT_EQ(out.size(), 400u * 400u * 4u);
    EXPECT_EQ(out[(100 * 400 + 100) * 4], 5);
}

TEST(Thumbnail, CaptureWritesAPngOnceAndClearsTheRequest) {
    test::TempDir dir;
    const std::string path = ThumbnailPathFor(dir.file("Scene.kvproj"));
    std::string pending = path;
    int reads = 0;
    auto reader = [&](ThumbnailFrame& frame) {
        ++reads;
        frame = MakeFrame(1600, 900, [](int, int) { return std::array<uint8_t, 4>{10, 120, 230, 0}; }, 16);
        return true;
    };
    CaptureProjectThumbnail(pending, reader);
    EXPECT_TRUE(pending.empty());
    CaptureProjectThumbnail(pending, reader);
    EXPECT_EQ(reads, 1) << "an empty request must not capture";

    int width = 0, height = 0, channels = 0;
    unsigned char* image = stbi_load(path.c_str(), &width, &height, &channels, 4);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 225);
    EXPECT_EQ(channels, 4);
    const unsigned char centre[4] = {image[(112 * 400 + 200) * 4], image[(112 * 400 + 200) * 4 + 1],
                                     image[(112 * 400 + 200) * 4 + 2], image[(112 * 400 + 200) * 4 + 3]};
    stbi_image_free(image);
    EXPECT_EQ(centre[0], 10);
    EXPECT_EQ(centre[1], 120);
    EXPECT_EQ(centre[2], 230);
    EXPECT_EQ(centre[3], 255);
}

TEST(Thumbnail, FailuresAreQuietAndStillClearTheRequest) {
    test::TempDir dir;
    std::string pending = dir.file("a.thumb.png");
    CaptureProjectThumbnail(pending, [](ThumbnailFrame&) { return false; });
    EXPECT_TRUE(pending.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.thumb.png")));

    pending = dir.file("b.thumb.png");
    CaptureProjectThumbnail(pending, {});
    EXPECT_TRUE(pending.empty());

    const uint8_t pixel[4] = {1, 2, 3, 255};
    EXPECT_FALSE(WritePngFile(dir.file("missing/folder/c.png"), pixel, 1, 1));
    EXPECT_TRUE(WritePngFile(dir.file("d.png"), pixel, 1, 1));
}

// The frame's capture reads the window through the shell's hook, and takes
// the request also when no hook is installed.
TEST(Thumbnail, FrameCaptureReadsThroughThePlatformHook) {
    test::TempDir dir;
    AppState& state = GlobalAppState;
    const PlatformHooks savedHooks = state.platformHooks;
    const std::string savedPending = state.pendingThumbnailPath;

    state.platformHooks.readBackBuffer = nullptr;
    state.pendingThumbnailPath = dir.file("none.thumb.png");
    CaptureProjectThumbnail();
    EXPECT_TRUE(state.pendingThumbnailPath.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.thumb.png")));

    int reads = 0;
    state.platformHooks.readBackBuffer = [&](ThumbnailFrame& frame) {
        ++reads;
        frame = MakeFrame(800, 600, [](int, int) { return std::array<uint8_t, 4>{40, 50, 60, 9}; });
        return true;
    };
    state.pendingThumbnailPath = dir.file("hook.thumb.png");
    CaptureProjectThumbnail();
    CaptureProjectThumbnail();
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(state.pendingThumbnailPath.empty());

    int width = 0, height = 0, channels = 0;
    unsigned char* image = stbi_load(dir.file("hook.thumb.png").c_str(), &width, &height, &channels, 4);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 300);
    const std::array<unsigned char, 4> first = {image[0], image[1], image[2], image[3]};
    stbi_image_free(image);
    EXPECT_EQ(first, (std::array<unsigned char, 4>{40, 50, 60, 255}));

    state.platformHooks = savedHooks;
    state.pendingThumbnailPath = savedPending;
}

}  // namespace
}  // namespace korvel
