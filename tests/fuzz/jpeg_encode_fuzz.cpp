// Fuzzes our JPEG encoder: a size, a quality, a sampling and a look from
// the input's first bytes, pixels from the rest (repeated as needed). The
// strips must hold no marker but their restart, and the whole file must
// decode through libjpeg without a warning to the right size, to the same
// pixels with the standard tables as with tables fitted to its symbols; at
// quality 100 with full chroma, to within a level or so of the tinted pixels.
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE first
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "formats/jpeg_format.h"

namespace {

struct ErrorJump {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void Fail(j_common_ptr info) { longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1); }
void Quiet(j_common_ptr, int) {}

// The whole file: the head, each strip (which must hold no marker but its
// restart, and be the same coded at once from the pixels, one block at a
// time where `symbols` came two at a time on a processor with AVX2, its
// symbols counted as `counts` has them), EOI.
std::vector<uint8_t> Encoded(const JpegLayout& layout, const JpegHuffmanTables& huffman,
                             const std::vector<JpegStripSymbols>& symbols, const JpegSource& source,
                             const JpegSymbolCounts& counts)
{
    JpegSymbolCounts codedCounts;
    std::vector<uint8_t> jpeg = JpegHeadBytes(layout, huffman, {});
    JpegStripCoder coder(layout, huffman);
    JpegStripTransform transform(layout, false);
    JpegBytes strip, atOnce;
    for (int32_t k = 0; k < layout.strips; ++k) {
        coder.Code(symbols[k], k, strip);
        transform.RunCoded(source, k, coder, atOnce, codedCounts);
        if (atOnce.size != strip.size || memcmp(atOnce.room.data(), strip.room.data(), strip.size) != 0)
            abort();
        const bool last = k + 1 == layout.strips;
        for (size_t i = 0; i + 1 < strip.size; ++i) {
            const bool restart = !last && i + 2 == strip.size && strip.room.data()[i + 1] == 0xD0 + k % 8;
            if (strip.room.data()[i] == 0xFF && strip.room.data()[i + 1] != 0 && !restart)
                abort();
        }
        jpeg.insert(jpeg.end(), strip.room.data(), strip.room.data() + strip.size);
    }
    if (memcmp(&codedCounts, &counts, sizeof counts) != 0)
        abort();
    jpeg.push_back(0xFF);
    jpeg.push_back(0xD9);
    return jpeg;
}

// The file through libjpeg, which must take it without a warning.
std::vector<uint8_t> Decoded(const std::vector<uint8_t>& jpeg, int32_t w, int32_t h)
{
    jpeg_decompress_struct info;
    ErrorJump error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = Fail;
    error.base.emit_message = Quiet;
    std::vector<uint8_t> decoded(3 * static_cast<size_t>(w) * h);
    if (setjmp(error.jump) != 0)
        abort();
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), jpeg.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    if (static_cast<int32_t>(info.output_width) != w || static_cast<int32_t>(info.output_height) != h)
        abort();
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &decoded[3 * static_cast<size_t>(w) * info.output_scanline];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    if (error.base.num_warnings != 0)
        abort();
    jpeg_destroy_decompress(&info);
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    const int32_t w = 1 + (data[0] | data[1] << 8) % 300, h = 1 + (data[2] | data[3] << 8) % 300;
    const int quality = 1 + data[4] % 100;
    const JpegChroma chroma = static_cast<JpegChroma>(data[5] % 3);
    const TintParameters look = {{data[6], 100, 50}, {30, data[7], 90}, data[6] % 101, data[7] % 101, 50};
    data += 8;
    size -= 8;
    const size_t stride = (3 * static_cast<size_t>(w) + 3) & ~size_t{3};
    std::vector<uint8_t> pixels(stride * h);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = size == 0 ? 0 : data[i % size];

    JpegLayout layout;
    if (!PlanJpeg(w, h, quality, chroma, layout))
        abort();
    TintTables tables;
    BuildTintTables(look, tables);
    JpegColour colour;
    BuildJpegColour(tables, colour);
    // Coded with the standard tables, then with tables fitted to the
    // symbols: Huffman coding loses nothing, so both decode to the same pixels.
    JpegSymbolCounts counts;
    std::vector<JpegStripSymbols> symbols(static_cast<size_t>(layout.strips));
    JpegStripTransform transform(layout);
    for (int32_t k = 0; k < layout.strips; ++k)
        transform.Run({pixels.data(), stride, &colour}, k, symbols[k], counts);
    std::vector<uint8_t> decoded[2];
    for (int fitted = 0; fitted < 2; ++fitted) {
        const JpegHuffmanTables huffman = fitted ? FittedJpegTables(counts) : StandardJpegTables();
        decoded[fitted] = Decoded(Encoded(layout, huffman, symbols, {pixels.data(), stride, &colour}, counts), w, h);
    }
    if (decoded[0] != decoded[1])
        abort();

    if (quality == 100 && !layout.subsampled) {
        long sum = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const uint8_t was = tables.channel[2 - c][pixels[(h - 1 - y) * stride + 3 * x + 2 - c]];
                    sum += std::abs(decoded[0][3 * (static_cast<size_t>(y) * w + x) + c] - was);
                }
        if (sum > 3L * w * h)
            abort();
    }
    return 0;
}
