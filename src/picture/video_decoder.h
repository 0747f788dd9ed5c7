#pragma once
// FFmpeg reading of a reference video: the open (with its whitelists and
// size, rate and duration rules), the decode loop, repositioning and scaling
// to RGBA. The player and the picture sampler each own one `FfmpegVideo`.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVIOContext;
struct SwsContext;

namespace korvel {

// Containers a reference video may come in (demuxer names). FFmpeg guesses
// the demuxer from the content, so without this list a crafted file could be
// read as a playlist that opens other files or URLs.
inline constexpr const char* kVideoFormatWhitelist = "mov,avi,matroska,asf,mxf";

// The longest video opened, and the fewest bytes a stored frame takes.
inline constexpr double kVideoMaxSeconds = 24.0 * 3600.0;
inline constexpr double kVideoMinFrameBytes = 4.0;

// False for a duration a file of `fileBytes` (0 or less: unknown) cannot
// hold at `fps`: more frames than kVideoMinFrameBytes each would fill, or
// longer than kVideoMaxSeconds.
bool PlausibleVideoDuration(double seconds, float fps, std::int64_t fileBytes);

// Longer side of decoded frames.
inline constexpr int kVideoMaxSide = 1280;

// Applies the 1,280-pixel limit: both sides scaled by 1280 / longer side and
// truncated when either exceeds it.
void LimitVideoSize(int& width, int& height);

// Opens a container for reading: from `path` through the file protocol only,
// or, when `io` is given, from that reader with no protocol at all. Null on
// failure (nothing printed).
AVFormatContext* OpenVideoContainer(const char* path, AVIOContext* io);

struct FfmpegVideo {
    AVFormatContext* formatContext = nullptr;
    AVCodecContext* codecContext = nullptr;
    SwsContext* scaler = nullptr;  // created on first use
    AVFrame* frame = nullptr;     // the last frame decoded; kept when a later decode fails
    AVFrame* incoming = nullptr;
    AVPacket* packet = nullptr;
    int videoStream = -1;
    bool eofSent = false;
    float fps = 24.0f;
    double lastFrameTime = 0.0;
    float duration = 0.0f;
    int width = 0;  // output size after the limit
    int height = 0;
    std::string decoderName;
    std::vector<std::uint8_t> scaleScratch;  // rows padded for the scaler's vector stores
};

// Opens `path` (or `io` when given; `path` then only names it in lines) and
// its best video stream. Prints the failing step's "[Video] FFmpeg: ..." line
// and frees everything on failure.
bool OpenFfmpegVideo(FfmpegVideo& video, const char* path, AVIOContext* io = nullptr);
void CloseFfmpegVideo(FfmpegVideo& video);

enum class VideoProbe { Opens, NotVideo, Undecodable };

// Whether `path` would load, before anything that shows is closed: NotVideo
// when no allowed container opens at all, Undecodable when it holds no
// decodable video or its first frame does not decode. Prints the failing
// step's "[Video]" line; keeps nothing open.
VideoProbe ProbeVideoFile(const char* path);

// Decodes the next frame into video.frame; false at the second end of file or
// on a decoder error. `time` is the frame's video time in seconds.
bool DecodeNextFfmpegFrame(FfmpegVideo& video, double& time);

// Seeks back to the key frame at or before `seconds` and flushes the decoder.
void RepositionFfmpegVideo(FfmpegVideo& video, double seconds);

// Scales video.frame (bilinear) into `rgba` (width × height × 4 bytes) with
// the scaler kept in `scaler`; false when the frame cannot be converted.
bool ScaleFfmpegFrame(FfmpegVideo& video, SwsContext*& scaler, std::uint8_t* rgba, int width, int height);

// Where decoded frames go: the display texture the window half makes (a
// GL_RGBA8 texture written with glTexSubImage2D) or, in tests, a copy in
// memory. UI thread.
struct VideoFrameSink {
    virtual ~VideoFrameSink() = default;
    // Makes the display target; 0 on success, else an error code for the
    // "[Video]" line.
    virtual unsigned long CreateTarget(int width, int height) = 0;
    virtual void ReleaseTarget() = 0;
    // Rows top to bottom, width × 4 bytes each.
    virtual void Upload(const std::uint8_t* rgba, int width, int height) = 0;
    // The view the video area draws (the UI library's texture id).
    virtual void* View() = 0;
};

// The player's decoder. Seek and Tick hold `mutex` around decoding.
struct VideoDecoder {
    VideoFrameSink* device = nullptr;
    std::string path;  // the open file, for the frame sampler's own decoder
    bool targetMade = false;

    bool playing = false;
    double playStartClock = 0.0;
    float playStartPosition = 0.0f;

    float pendingTarget = -1.0f;  // a seek whose frame is not shown yet
    bool scrubBackward = false;
    bool fastBackwardScrub = false;
    bool awaitingLanding = false;
    float lastLandingTime = -1.0f;
    double lastSeekClock = 0.0;
    // The last target whose seek finished and the frame it showed: asking
    // for it again while that frame is shown needs no decode, wherever the
    // frame sits against the rate's grid.
    float landedTarget = -1.0f;
    float landedFrameTime = -1.0f;

    std::mutex mutex;

    bool usingFfmpeg = false;
    FfmpegVideo video;
    std::vector<std::uint8_t> rgbaBuffer;

    // Counts for tests and benchmarks: repositionings and frames decoded.
    int repositions = 0;
    long framesDecoded = 0;
};

}  // namespace korvel
