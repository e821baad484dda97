// A deflate compressor of runs and literals for PNG's filtered rows: a byte
// repeated 3 to 258 times after itself is a match at distance 1, every other
// byte a literal, as zlib's run-length strategy chooses them; each block of
// input gets Huffman codes of its own, or is stored when that is smaller.
// A photograph's filtered rows are nearly all literals, and this writes each
// with one table look-up, where zlib's general machinery spends several
// times that. Plain C++ over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The Adler-32 sum of `count` more bytes after those `adler` sums (1 for
// none), as zlib's adler32 gives it, sixteen bytes at a time.
uint32_t AdlerSum(uint32_t adler, const uint8_t* data, size_t count);

// Bytes at most that RunsDeflater writes for `count` bytes of input.
size_t RunsDeflateBound(size_t count);

// One raw deflate stream, or a piece of one: Begin, Add the bytes in order,
// End. A piece that is not the last ends on a byte boundary with an empty
// stored block, so the next piece's blocks can follow it; the last ends the
// stream. Matches never reach before the piece, so pieces need no history.
class RunsDeflater {
public:
    // `out` has room for RunsDeflateBound of every byte the piece will add.
    void Begin(uint8_t* out);
    void Add(const uint8_t* data, size_t count);
    // Writes what is held and the piece's end; returns the bytes written.
    size_t End(bool last);

private:
    void Block(bool last);
    void Put(uint32_t bits, uint32_t count);
    void AlignToByte();

    std::vector<uint8_t> held_;     // input not yet written, after the byte before it
    std::vector<uint32_t> runs_;    // a block's runs, each its start << 9 | its length
    size_t heldCount_ = 0;
    bool hasBefore_ = false;        // held_[0] is the byte before the held input
    uint8_t* start_ = nullptr;
    uint8_t* out_ = nullptr;
    uint64_t bits_ = 0;             // pending bits, the first at the bottom
    uint32_t bitCount_ = 0;
};
