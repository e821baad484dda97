// WebP pictures decoded by libwebp in the decoding process: lossy, lossless,
// with or without alpha, and an animation's first frame laid on its canvas.
// An opaque picture's rows go straight into the destination as 24-bit
// bottom-up rows (blue, green, red, zeroed padding); a picture with alpha
// is decoded into the library's own straight blue, green, red, alpha buffer
// and each row, as it comes, either keeps its straight colour with its
// alpha going to a plane of its own, or is flattened onto white.
//
// WebP has no orientation of its own: its rows are shown as stored. The
// pixels are the library's defaults (fancy upsampling, no dithering), the
// same as dwebp writes.
#pragma once

#include <cstdint>
#include <vector>

enum class WebpFailure {
    none,
    unreadable,   // not a WebP the library reads, or a feature it lacks
    damaged,      // the picture's data is wrong part of the way
    cutShort,     // the file ends before the picture does
    tooHungry,    // the library could not get its memory
};

struct WebPDemuxer;

class WebpPicture {
public:
    WebpPicture() = default;
    ~WebpPicture() { Close(); }
    WebpPicture(const WebpPicture&) = delete;
    WebpPicture& operator=(const WebpPicture&) = delete;

    // Reads the file and finds its first frame; false with Failure() and
    // Message() set when it cannot.
    bool Open(const wchar_t* path);
    // The canvas: the whole picture, or an animation's.
    int64_t Width() const { return width_; }
    int64_t Height() const { return height_; }
    // Whether some pixel can be transparent.
    bool HasAlpha() const { return hasAlpha_; }
    // Fills pixels, rows `stride` bytes apart, counting the rows done in
    // rowsDone as it goes. With `alpha`, a picture that has it keeps its
    // straight colour and gives each pixel's alpha to `alpha`, rows like the
    // pixels' but `alphaStride` apart. False with Failure() and Message()
    // set when the picture fails part of the way.
    bool CopyInto(uint8_t* pixels, int64_t stride, volatile int64_t* rowsDone = nullptr, uint8_t* alpha = nullptr,
                  int64_t alphaStride = 0);
    // After a CopyInto with `alpha`: some pixel is not wholly opaque.
    bool Translucent() const { return translucent_; }
    WebpFailure Failure() const { return failure_; }
    const char* Message() const { return message_; }
    void Close();

private:
    bool Fail(WebpFailure failure, const char* message);

    std::vector<uint8_t> file_;
    WebPDemuxer* demux_ = nullptr;
    // The first frame: where its coded bytes lie in file_, and where it
    // stands on the canvas.
    const uint8_t* frameBytes_ = nullptr;
    size_t frameSize_ = 0;
    int64_t frameLeft_ = 0, frameTop_ = 0, frameWidth_ = 0, frameHeight_ = 0;
    int64_t width_ = 0, height_ = 0;
    bool hasAlpha_ = false;
    bool translucent_ = false;
    WebpFailure failure_ = WebpFailure::none;
    char message_[200] = {};
};
