// Decoding TIFF with libtiff.
//
// The direct path decodes a band of stored rows (one strip, or one row of
// tiles, of every plane) with TIFFReadEncodedStrip or TIFFReadEncodedTile,
// then turns each row's samples into blue, green, red (and alpha) in their
// place in the destination. libtiff hands 16-bit samples in the machine's
// order. A JPEG-coded YCbCr picture is given as RGB by the JPEG codec
// itself (JPEGCOLORMODE_RGB). The RGBA reader, for the kinds left, gives
// premultiplied 8-bit red, green, blue, alpha, a strip or tile at a time
// with its bottom row first; its rows are put top first into the same band
// and taken as an RGB picture with associated alpha.
#include "decoder/tiff_decode.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include <tiffio.h>

#include "decoder/picture_decode.h"
#include "read/refusals.h"

namespace {

TiffPicture& PictureOf(thandle_t handle) { return *static_cast<TiffPicture*>(handle); }

tmsize_t ReadBytes(thandle_t handle, void* out, tmsize_t count)
{
    TiffPicture& picture = PictureOf(handle);
    const uint64_t left = picture.at_ < picture.size_ ? picture.size_ - picture.at_ : 0;
    if (count < 0)
        return 0;
    if (static_cast<uint64_t>(count) > left) {
        picture.ended_ = true;
        count = static_cast<tmsize_t>(left);
    }
    memcpy(out, picture.file_ + picture.at_, static_cast<size_t>(count));
    picture.at_ += static_cast<uint64_t>(count);
    return count;
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t) { return 0; }

// A seek past the end stands there; the read after it finds the end.
toff_t Seek(thandle_t handle, toff_t offset, int whence)
{
    TiffPicture& picture = PictureOf(handle);
    const uint64_t from = whence == SEEK_CUR ? picture.at_ : whence == SEEK_END ? picture.size_ : 0;
    picture.at_ = from + offset;
    return picture.at_;
}

// The bytes are the caller's.
int CloseNothing(thandle_t) { return 0; }

toff_t Size(thandle_t handle) { return PictureOf(handle).size_; }

// No mapping: every read goes through ReadBytes, which sees the file end.
int MapNothing(thandle_t, void**, toff_t*) { return 0; }
void UnmapNothing(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* user, const char* module, const char* format, va_list arguments)
{
    TiffPicture& picture = *static_cast<TiffPicture*>(user);
    char message[sizeof picture.words_];
    vsnprintf(message, sizeof message, format, arguments);
    snprintf(picture.words_, sizeof picture.words_, "%s: %s", module != nullptr ? module : "libtiff", message);
    return 1;  // handled: nothing is printed
}

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A sample of `bits` bits (1 to 16) as 8 bits: 16-bit samples keep their
// top 8 bits, as TopEightBits does; fewer bits are stretched to 0 to 255.
inline uint8_t EightBits(uint32_t value, int bits)
{
    if (bits == 8)
        return static_cast<uint8_t>(value);
    if (bits == 16)
        return static_cast<uint8_t>(value >> 8);
    return static_cast<uint8_t>(value * 255 / ((1u << bits) - 1));
}

// Sample `index` of a row of `bits`-bit samples, packed from each byte's top bit.
inline uint32_t SampleAt(const uint8_t* row, int64_t index, int bits)
{
    if (bits == 8)
        return row[index];
    if (bits == 16) {
        uint16_t value;
        memcpy(&value, row + 2 * index, 2);
        return value;
    }
    const int64_t bit = index * bits;
    return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

// A premultiplied component divided by its alpha, rounded to nearest (the
// platform's decoder rounded down).
inline uint8_t Straight(uint8_t c, uint8_t a)
{
    if (a == 0 || a == 255)
        return c;
    const unsigned value = (255u * c + a / 2) / a;
    return static_cast<uint8_t>(value > 255 ? 255 : value);
}

}  // namespace

bool TiffPicture::FailTiff(ReaderFailure otherwise)
{
    if (ended_)
        return Fail(ReaderFailure::cutShort, "the file ends before its first page does");
    // libtiff names no kind for its errors: the words tell a buffer past the
    // budget ("... byte limit defined in open options") or one it could not get.
    const bool hungry = strstr(words_, "limit") != nullptr || strstr(words_, "emory") != nullptr;
    return Fail(hungry ? ReaderFailure::tooHungry : otherwise, "%s", words_[0] != '\0' ? words_ : "libtiff cannot read it");
}

bool TiffPicture::Open(const uint8_t* file, uint64_t size, const ReadLimits& limits)
{
    Forget();
    file_ = file;
    size_ = size;
    orientation_ = limits.orientation;
    memoryBytes_ = limits.memoryBytes;
    // Nothing of libtiff's goes to standard error, whatever path it takes.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr)
        return Fail(ReaderFailure::tooHungry, "libtiff could not get the memory it needs");
    const uint64_t most = memoryBytes_ < INT64_MAX ? memoryBytes_ : INT64_MAX;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(most));
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    tiff_ = TIFFClientOpenExt("picture", "rm", this, ReadBytes, WriteNothing, Seek, CloseNothing, Size, MapNothing,
                              UnmapNothing, options);
    TIFFOpenOptionsFree(options);
    if (tiff_ == nullptr)
        return FailTiff(ReaderFailure::unreadable);

    uint16_t planarConfig = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, inks = INKSET_CMYK, compression = 0;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    if (!TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, &storedWidth_) || !TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, &storedHeight_) ||
        storedWidth_ == 0 || storedHeight_ == 0)
        return Fail(ReaderFailure::unreadable, "%s", ProbeClauseWords(ProbeClause::tiffNoSize));
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_BITSPERSAMPLE, &bits_);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples_);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_PLANARCONFIG, &planarConfig);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_INKSET, &inks);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(tiff_, TIFFTAG_PHOTOMETRIC, &photometric_))
        photometric_ = samples_ >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    // The JPEG codec converts chunky YCbCr only; planar YCbCr goes to the RGBA reader.
    if (photometric_ == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG && planarConfig == PLANARCONFIG_CONTIG &&
        TIFFSetField(tiff_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
        photometric_ = PHOTOMETRIC_RGB;
    switch (photometric_) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_PALETTE: colours_ = 1; break;
    case PHOTOMETRIC_RGB: colours_ = 3; break;
    case PHOTOMETRIC_SEPARATED: colours_ = inks == INKSET_CMYK ? 4 : 0; break;
    default: colours_ = 0;
    }
    const bool depth = bits_ == 1 || bits_ == 2 || bits_ == 4 || bits_ == 8 || bits_ == 16;
    // The first sample past the colour is alpha when the file says so.
    if (extraCount > 0 && samples_ > colours_ && colours_ > 0 &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
        alphaSample_ = colours_;
        associated_ = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    rgba_ = colours_ == 0 || samples_ < colours_ || !depth ||
            (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID) ||
            (photometric_ == PHOTOMETRIC_PALETTE && bits_ > 8) || (colours_ > 1 && bits_ < 8);
    if (rgba_) {
        char words[1024];
        if (!TIFFRGBAImageOK(tiff_, words))
            return Fail(ReaderFailure::unreadable, "%.190s", words);
        // The RGBA reader flips rows and columns by the file's Orientation
        // itself (and never transposes, so 5 to 8 come half turned); the turn
        // is the probe's alone, so the reader is told the rows stand upright.
        TIFFSetField(tiff_, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        // The RGBA reader's alpha: the first extra sample, as the direct path takes it.
        alphaSample_ = extraCount > 0 && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA) ? 3 : -1;
        associated_ = true;
        photometric_ = PHOTOMETRIC_RGB;
        bits_ = 8;
        samples_ = 4;
        colours_ = 3;
        planarConfig = PLANARCONFIG_CONTIG;
    }
    hasAlpha_ = alphaSample_ >= 0;
    planar_ = planarConfig == PLANARCONFIG_SEPARATE && samples_ > 1;
    tiled_ = TIFFIsTiled(tiff_) != 0;
    if (tiled_) {
        TIFFGetField(tiff_, TIFFTAG_TILEWIDTH, &tileWidth_);
        TIFFGetField(tiff_, TIFFTAG_TILELENGTH, &bandRows_);
    } else {
        TIFFGetFieldDefaulted(tiff_, TIFFTAG_ROWSPERSTRIP, &bandRows_);
    }
    if (bandRows_ == 0 || bandRows_ > storedHeight_)
        bandRows_ = storedHeight_;
    if (tiled_ && tileWidth_ == 0)
        return Fail(ReaderFailure::unreadable, "its tiles are 0 pixels wide");
    rowBytes_ = (static_cast<int64_t>(storedWidth_) * bits_ * (planar_ ? 1 : samples_) + 7) / 8;
    if (photometric_ == PHOTOMETRIC_PALETTE) {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tiff_, TIFFTAG_COLORMAP, &red, &green, &blue))
            return Fail(ReaderFailure::unreadable, "it has no colour table");
        const size_t entries = size_t{1} << bits_;
        palette_.resize(3 * entries);
        for (size_t i = 0; i < entries; ++i) {
            palette_[3 * i] = static_cast<uint8_t>(blue[i] >> 8);
            palette_[3 * i + 1] = static_cast<uint8_t>(green[i] >> 8);
            palette_[3 * i + 2] = static_cast<uint8_t>(red[i] >> 8);
        }
    }
    // The band and one strip or tile beside it are the reader's own buffers.
    const uint64_t planes = planar_ ? samples_ : 1;
    const uint64_t bandBytes = planes * bandRows_ * static_cast<uint64_t>(rgba_ ? 4 * storedWidth_ : rowBytes_);
    const uint64_t pieceBytes = rgba_ ? 4ull * (tiled_ ? tileWidth_ : storedWidth_) * bandRows_
                                      : tiled_ ? static_cast<uint64_t>(TIFFTileSize64(tiff_)) : 0;
    if (memoryBytes_ != 0 && bandBytes + pieceBytes > memoryBytes_)
        return Fail(ReaderFailure::tooHungry, "its strips or tiles need more memory than the picture may take");
    const bool swaps = OrientationSwapsAxes(orientation_);
    width_ = swaps ? storedHeight_ : storedWidth_;
    height_ = swaps ? storedWidth_ : storedHeight_;
    return true;
}

bool TiffPicture::ReadBand(uint32_t top, uint32_t count)
{
    const int planes = planar_ ? samples_ : 1;
    if (rgba_) {
        // Each strip or tile comes bottom row first; the band holds them top first.
        const uint32_t pieceWidth = tiled_ ? tileWidth_ : storedWidth_;
        auto* raster = reinterpret_cast<uint32_t*>(piece_.data());
        for (uint32_t left = 0; left < storedWidth_; left += pieceWidth) {
            const bool read = tiled_ ? TIFFReadRGBATile(tiff_, left, top, raster) : TIFFReadRGBAStrip(tiff_, top, raster);
            if (!read)
                return false;
            const uint32_t cols = storedWidth_ - left < pieceWidth ? storedWidth_ - left : pieceWidth;
            for (uint32_t y = 0; y < count; ++y) {
                const uint32_t from = tiled_ ? bandRows_ - 1 - y : count - 1 - y;
                memcpy(band_.data() + y * rowBytes_ + 4 * left, raster + static_cast<size_t>(from) * pieceWidth, 4 * cols);
            }
        }
        return true;
    }
    for (int plane = 0; plane < planes; ++plane) {
        uint8_t* out = band_.data() + static_cast<size_t>(plane) * bandRows_ * rowBytes_;
        if (!tiled_) {
            const uint32_t strip = TIFFComputeStrip(tiff_, top, static_cast<uint16_t>(plane));
            if (TIFFReadEncodedStrip(tiff_, strip, out, count * rowBytes_) < 0)
                return false;
            continue;
        }
        const tmsize_t tileRowBytes = TIFFTileRowSize(tiff_);
        const int bitsAPixel = bits_ * (planar_ ? 1 : samples_);
        for (uint32_t left = 0; left < storedWidth_; left += tileWidth_) {
            const uint32_t tile = TIFFComputeTile(tiff_, left, top, 0, static_cast<uint16_t>(plane));
            if (TIFFReadEncodedTile(tiff_, tile, piece_.data(), static_cast<tmsize_t>(piece_.size())) < 0)
                return false;
            // Tiles are a multiple of 16 pixels wide: each starts on a byte.
            const int64_t at = static_cast<int64_t>(left) * bitsAPixel / 8;
            const int64_t bytes = rowBytes_ - at < tileRowBytes ? rowBytes_ - at : tileRowBytes;
            for (uint32_t y = 0; y < count; ++y)
                memcpy(out + y * rowBytes_ + at, piece_.data() + y * tileRowBytes, static_cast<size_t>(bytes));
        }
    }
    return true;
}

bool TiffPicture::CopyInto(RowTarget& rows)
{
    translucent_ = false;
    if (tiff_ == nullptr)
        return false;
    const int planes = planar_ ? samples_ : 1;
    try {
        band_.assign(static_cast<size_t>(planes) * bandRows_ * rowBytes_, 0);
        if (rgba_)
            piece_.resize(4ull * (tiled_ ? tileWidth_ : storedWidth_) * bandRows_);
        else if (tiled_)
            piece_.resize(static_cast<size_t>(TIFFTileSize64(tiff_)));
    } catch (const std::bad_alloc&) {
        return Fail(ReaderFailure::tooHungry, "its strips or tiles need more memory than the picture may take");
    }
    const bool keepAlpha = rows.KeepsAlpha() && hasAlpha_;
    const int64_t outWidth = Width(), outHeight = Height();
    // Row y's padding: a turned picture's rows are filled a pixel at a time
    // from anywhere, and have it zeroed first; rows in order as they come.
    auto Pad = [&](int64_t y) {
        memset(rows.Row(y) + 3 * outWidth, 0, static_cast<size_t>(rows.Stride() - 3 * outWidth));
        if (keepAlpha)
            memset(rows.AlphaRow(y) + outWidth, 0, static_cast<size_t>(rows.AlphaStride() - outWidth));
    };
    const bool inOrder = RowsInOrder();
    for (int64_t y = 0; !inOrder && y < outHeight; ++y)
        Pad(y);
    // Where stored pixel (x, y) goes, and its alpha.
    auto PlaceOf = [&](int64_t x, int64_t y, uint8_t*& colour, uint8_t*& alpha) {
        int64_t column, row;
        OrientedPosition(orientation_, storedWidth_, storedHeight_, x, y, column, row);
        colour = rows.Row(row) + 3 * column;
        alpha = keepAlpha ? rows.AlphaRow(row) + column : nullptr;
    };
    uint8_t leastAlpha = 255;
    const int bits = bits_;
    for (uint32_t top = 0; top < storedHeight_; top += bandRows_) {
        const uint32_t count = storedHeight_ - top < bandRows_ ? storedHeight_ - top : bandRows_;
        if (!ReadBand(top, count))
            return FailTiff(ReaderFailure::damaged);
        for (uint32_t y = 0; y < count; ++y) {
            const uint8_t* stored[5] = {};  // each plane's row, or the one row
            for (int plane = 0; plane < planes && plane < 5; ++plane)
                stored[plane] = band_.data() + (static_cast<size_t>(plane) * bandRows_ + y) * rowBytes_;
            // Sample s of pixel x.
            auto Sample = [&](int64_t x, int s) {
                return planar_ ? SampleAt(stored[s < 5 ? s : 0], x, bits) : SampleAt(stored[0], x * samples_ + s, bits);
            };
            if (inOrder) {
                rows.Room(top + y, 1);
                Pad(top + y);
            }
            uint8_t *out, *outAlpha;
            PlaceOf(0, top + y, out, outAlpha);
            // A stored row lands on a straight line of the destination.
            ptrdiff_t step = 3, alphaStep = 1;
            if (storedWidth_ > 1) {
                uint8_t *next, *nextAlpha;
                PlaceOf(1, top + y, next, nextAlpha);
                step = next - out;
                alphaStep = keepAlpha ? nextAlpha - outAlpha : 1;
            }
            if (bits == 8 && !planar_ && alphaSample_ < 0 && photometric_ == PHOTOMETRIC_RGB) {
                // The common picture, opaque 8-bit chunky RGB, without the sample-by-sample fetch.
                const uint8_t* in = stored[0];
                for (int64_t x = 0; x < storedWidth_; ++x, out += step, in += samples_) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
                continue;
            }
            for (int64_t x = 0; x < storedWidth_; ++x, out += step) {
                const uint8_t a = alphaSample_ >= 0 ? EightBits(Sample(x, alphaSample_), bits) : 255;
                uint8_t c[4];
                if (photometric_ != PHOTOMETRIC_PALETTE)
                    for (int s = 0; s < colours_; ++s)
                        c[s] = associated_ ? Straight(EightBits(Sample(x, s), bits), a) : EightBits(Sample(x, s), bits);
                uint8_t bgr[3];
                switch (photometric_) {
                case PHOTOMETRIC_PALETTE: memcpy(bgr, &palette_[3 * Sample(x, 0)], 3); break;
                case PHOTOMETRIC_MINISWHITE: bgr[0] = bgr[1] = bgr[2] = static_cast<uint8_t>(255 - c[0]); break;
                case PHOTOMETRIC_MINISBLACK: bgr[0] = bgr[1] = bgr[2] = c[0]; break;
                case PHOTOMETRIC_SEPARATED: CmykToBgr(c, 1, false, bgr); break;
                default: bgr[0] = c[2]; bgr[1] = c[1]; bgr[2] = c[0];
                }
                leastAlpha = a < leastAlpha ? a : leastAlpha;
                if (keepAlpha) {
                    memcpy(out, bgr, 3);
                    *outAlpha = a;
                    outAlpha += alphaStep;
                } else {
                    out[0] = FlattenOnWhite(bgr[0], a);
                    out[1] = FlattenOnWhite(bgr[1], a);
                    out[2] = FlattenOnWhite(bgr[2], a);
                }
            }
        }
        rows.Done(top + count);
    }
    translucent_ = keepAlpha && leastAlpha < 255;
    Close();
    return true;
}

void TiffPicture::Close()
{
    if (tiff_ != nullptr)
        TIFFClose(tiff_);
    tiff_ = nullptr;
    file_ = nullptr;
    size_ = at_ = 0;
    ended_ = false;
    words_[0] = '\0';
    orientation_ = 1;
    storedWidth_ = storedHeight_ = 0;
    bits_ = samples_ = photometric_ = 0;
    colours_ = 0;
    alphaSample_ = -1;
    associated_ = planar_ = tiled_ = rgba_ = false;
    bandRows_ = tileWidth_ = 0;
    rowBytes_ = 0;
    std::vector<uint8_t>().swap(band_);
    std::vector<uint8_t>().swap(piece_);
    std::vector<uint8_t>().swap(palette_);
}
