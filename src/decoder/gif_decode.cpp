// Decoding GIF with giflib, record by record.
//
// giflib reads through a function of ours, which serves it the file's bytes
// where they lie. Open walks the records up to the first frame's header,
// keeping the see-through colour of the last Graphic Control Extension
// before it (the one that governs it); CopyInto decodes that frame's rows
// and stops: giflib's whole-file reader would decode every frame of an
// animation first.
#include "decoder/gif_decode.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <gif_lib.h>

#include "decoder/picture_decode.h"
#include "read/refusals.h"

namespace {

int ReadGif(GifFileType* gif, GifByteType* out, int count)
{
    return static_cast<GifPicture*>(gif->UserData)->Read(out, count);
}

const char* WordsOf(int error)
{
    switch (error) {
    case D_GIF_ERR_NOT_GIF_FILE: return "it does not begin as a GIF does";
    case D_GIF_ERR_NO_SCRN_DSCR:
    case D_GIF_ERR_NO_IMAG_DSCR:
    case D_GIF_ERR_WRONG_RECORD: return ProbeClauseWords(ProbeClause::gifBlockOfNoKind);
    case D_GIF_ERR_DATA_TOO_BIG: return "its first frame holds more pixels than its size";
    case D_GIF_ERR_NOT_ENOUGH_MEM: return "giflib could not get the memory it needs";
    case D_GIF_ERR_IMAGE_DEFECT: return "its first frame's coded data breaks GIF's rules";
    default: return "giflib cannot read it";
    }
}

}  // namespace

int GifPicture::Read(uint8_t* out, int count)
{
    const uint64_t left = size_ - at_;
    if (count < 0)
        return 0;
    if (static_cast<uint64_t>(count) > left) {
        ended_ = true;
        count = static_cast<int>(left);
    }
    memcpy(out, file_ + at_, static_cast<size_t>(count));
    at_ += static_cast<uint64_t>(count);
    return count;
}

bool GifPicture::FailGif(int error, ReaderFailure otherwise)
{
    if (ended_)
        return Fail(ReaderFailure::cutShort, "the file ends before its first frame does");
    if (error == D_GIF_ERR_NOT_ENOUGH_MEM)
        return Fail(ReaderFailure::tooHungry, "%s", WordsOf(error));
    return Fail(otherwise, "%s", WordsOf(error));
}

bool GifPicture::Open(const uint8_t* file, uint64_t size, const ReadLimits&)
{
    Forget();
    file_ = file;
    size_ = size;
    int error = 0;
    gif_ = DGifOpen(this, ReadGif, &error);
    if (gif_ == nullptr)
        return FailGif(error, ReaderFailure::unreadable);
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif_, &record) == GIF_ERROR)
            return FailGif(gif_->Error, ReaderFailure::unreadable);
        if (record == IMAGE_DESC_RECORD_TYPE)
            break;
        if (record == TERMINATE_RECORD_TYPE)
            return Fail(ReaderFailure::unreadable, "%s", ProbeClauseWords(ProbeClause::gifNoFrames));
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif_, &code, &block) == GIF_ERROR)
            return FailGif(gif_->Error, ReaderFailure::unreadable);
        GraphicsControlBlock control;
        // block[0] is the sub-block's length; a control block of another
        // length is not one giflib reads, and is passed over.
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr &&
            DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
            transparent_ = control.TransparentColor;
        // Text drawn on the screen takes the control block before it.
        if (code == PLAINTEXT_EXT_FUNC_CODE)
            transparent_ = -1;
        while (block != nullptr)
            if (DGifGetExtensionNext(gif_, &block) == GIF_ERROR)
                return FailGif(gif_->Error, ReaderFailure::unreadable);
    }
    if (DGifGetImageDesc(gif_) == GIF_ERROR)
        return FailGif(gif_->Error, ReaderFailure::unreadable);
    const GifImageDesc& frame = gif_->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif_->SColorMap;
    if (colours == nullptr)
        return Fail(ReaderFailure::unreadable, "it has no colour table for its first frame");
    frameLeft_ = frame.Left;
    frameTop_ = frame.Top;
    frameWidth_ = frame.Width;
    frameHeight_ = frame.Height;
    interlaced_ = frame.Interlace;
    // A frame that stands partly past the screen widens the picture to hold it, as the probe does.
    width_ = frameLeft_ + frameWidth_ > gif_->SWidth ? frameLeft_ + frameWidth_ : gif_->SWidth;
    height_ = frameTop_ + frameHeight_ > gif_->SHeight ? frameTop_ + frameHeight_ : gif_->SHeight;
    if (width_ < 1 || height_ < 1)
        return Fail(ReaderFailure::unreadable, "%s", ProbeClauseWords(ProbeClause::zeroSize));
    // Indices past the table's end (which giflib does not check) are black.
    for (int i = 0; i < colours->ColorCount && i < 256; ++i) {
        palette_[3 * i] = colours->Colors[i].Blue;
        palette_[3 * i + 1] = colours->Colors[i].Green;
        palette_[3 * i + 2] = colours->Colors[i].Red;
    }
    hasAlpha_ = (transparent_ >= 0 && transparent_ < 256) || frameLeft_ != 0 || frameTop_ != 0 ||
                frameWidth_ != width_ || frameHeight_ != height_;
    return true;
}

bool GifPicture::CopyInto(RowTarget& rows)
{
    translucent_ = false;
    if (gif_ == nullptr)
        return false;
    const bool keepAlpha = rows.KeepsAlpha() && hasAlpha_;
    const bool covered = frameLeft_ == 0 && frameTop_ == 0 && frameWidth_ == width_ && frameHeight_ == height_;
    // Row y's padding, and outside the first frame: transparent, white beneath.
    auto Blank = [&](int64_t y) {
        uint8_t* colour = rows.Row(y);
        memset(colour + 3 * width_, 0, static_cast<size_t>(rows.Stride() - 3 * width_));
        if (keepAlpha)
            memset(rows.AlphaRow(y) + width_, 0, static_cast<size_t>(rows.AlphaStride() - width_));
        if (covered)
            return;
        memset(colour, 255, static_cast<size_t>(3 * width_));
        if (keepAlpha)
            memset(rows.AlphaRow(y), 0, static_cast<size_t>(width_));
    };
    // Rows in order are blanked as they come, the rows above the frame
    // first; an interlaced frame's rows come in any order, so every row is
    // blanked before the first comes.
    const bool inOrder = RowsInOrder();
    for (int64_t y = 0; y < (inOrder ? frameTop_ : height_); ++y) {
        if (inOrder)
            rows.Room(y, 1);
        Blank(y);
    }
    uint8_t leastAlpha = covered ? 255 : 0;
    std::vector<GifPixelType> indices;
    try {
        indices.resize(static_cast<size_t>(frameWidth_ > 0 ? frameWidth_ : 1));
    } catch (const std::bad_alloc&) {
        return Fail(ReaderFailure::tooHungry, "%s", WordsOf(D_GIF_ERR_NOT_ENOUGH_MEM));
    }
    // An interlaced frame comes in four passes: every 8th row from 0, every
    // 8th from 4, every 4th from 2, every 2nd from 1.
    static const int64_t kFirst[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    // A frame 0 pixels wide has no rows to read.
    const int passes = frameWidth_ == 0 ? 0 : interlaced_ ? 4 : 1;
    int64_t done = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const int64_t first = interlaced_ ? kFirst[pass] : 0, step = interlaced_ ? kStep[pass] : 1;
        for (int64_t y = first; y < frameHeight_; y += step) {
            if (inOrder) {
                rows.Room(frameTop_ + y, 1);
                Blank(frameTop_ + y);
            }
            if (DGifGetLine(gif_, indices.data(), static_cast<int>(frameWidth_)) == GIF_ERROR)
                return FailGif(gif_->Error, ReaderFailure::damaged);
            uint8_t* out = rows.Row(frameTop_ + y) + 3 * frameLeft_;
            uint8_t* outAlpha = keepAlpha ? rows.AlphaRow(frameTop_ + y) + frameLeft_ : nullptr;
            for (int64_t x = 0; x < frameWidth_; ++x, out += 3) {
                const int index = indices[static_cast<size_t>(x)];
                const bool seeThrough = index == transparent_;
                if (seeThrough)
                    leastAlpha = 0;
                if (keepAlpha) {
                    memcpy(out, palette_ + 3 * index, 3);
                    outAlpha[x] = seeThrough ? 0 : 255;
                } else if (seeThrough) {
                    memset(out, 255, 3);
                } else {
                    memcpy(out, palette_ + 3 * index, 3);
                }
            }
            rows.Done(frameTop_ + ++done);
        }
    }
    for (int64_t y = frameTop_ + (passes > 0 ? frameHeight_ : 0); inOrder && y < height_; ++y) {
        rows.Room(y, 1);
        Blank(y);
    }
    rows.Done(height_);
    translucent_ = keepAlpha && leastAlpha < 255;
    Close();
    return true;
}

void GifPicture::Close()
{
    if (gif_ != nullptr) {
        int error = 0;
        DGifCloseFile(gif_, &error);
        gif_ = nullptr;
    }
    file_ = nullptr;
    size_ = at_ = 0;
    ended_ = false;
    transparent_ = -1;
    frameLeft_ = frameTop_ = frameWidth_ = frameHeight_ = 0;
    interlaced_ = false;
    memset(palette_, 0, sizeof palette_);
}
