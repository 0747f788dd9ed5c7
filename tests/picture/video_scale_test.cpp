// Scaling a decoded picture into the caller's RGBA buffer: whatever the
// width, nothing is written past width × height × 4 bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "picture/video_decoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace korvel {
namespace {

constexpr std::uint8_t kCanary = 0xA5;
constexpr std::size_t kGuardBytes = 4096;

TEST(VideoScale, WritesExactlyThePictureAtAnyWidth) {
    const struct {
        int width, height;
    } cases[] = {{1, 16}, {3, 5}, {17, 9}, {33, 2}, {160, 90}, {250, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        FfmpegVideo video;
        video.frame = av_frame_alloc();
        ASSERT_NE(video.frame, nullptr);
        video.frame->width = c.width;
        video.frame->height = c.height;
        video.frame->format = AV_PIX_FMT_YUV420P;
        ASSERT_EQ(av_frame_get_buffer(video.frame, 0), 0);
        // Mid-grey luma, neutral chroma: every pixel scales to one grey.
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? c.height : (c.height + 1) / 2;
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < video.frame->linesize[plane]; ++x)
                    video.frame->data[plane][y * video.frame->linesize[plane] + x] = plane == 0 ? 126 : 128;
        }
        const std::size_t picture = static_cast<std::size_t>(c.width) * c.height * 4;
        std::vector<std::uint8_t> rgba(picture + kGuardBytes, kCanary);
        SwsContext* scaler = nullptr;
        EXPECT_TRUE(ScaleFfmpegFrame(video, scaler, rgba.data(), c.width, c.height));
        for (std::size_t i = picture; i < rgba.size(); ++i) ASSERT_EQ(rgba[i], kCanary) << "byte " << i - picture << " past the end";
        EXPECT_NEAR(rgba[0], 128, 6);
        EXPECT_EQ(rgba[3], 255);
        EXPECT_NEAR(rgba[picture - 4], 128, 6);
        sws_freeContext(scaler);
        av_frame_free(&video.frame);
    }
}

}  // namespace
}  // namespace korvel
