// Where a reader in the decoding process writes a picture: 24-bit
// bottom-up rows (blue, green, red, zeroed padding) `stride` bytes apart,
// and, when asked for, an alpha plane of a byte a pixel. Every reader
// reaches a row through Row(y), y counted from the top, never through
// arithmetic of its own, so that a ring of rows can stand in for the whole
// picture.
//
// A ring holds `slots` rows, shown row y in slot y % slots, the slots
// bottom-up as a whole picture's rows are. The program lets go of the top
// rows as it is done with them (DecoderControl::rowsLetGo); a reader whose
// rows come in order asks Room before it writes a row, which waits until
// the row's slot is free. Only such a reader is given a ring, and no alpha
// plane with it. Pointer steps between rows (a turned picture's column)
// hold only in a whole picture, which every other reader is given.
#pragma once

#include <cstdint>

struct DecoderControl;

class RowTarget {
public:
    // Every row of a picture `height` rows high, the bottom one first at
    // `pixels`; an alpha plane's likewise at `alpha`, when given. `rowsDone`
    // gets the rows done as they are counted, when given.
    RowTarget(uint8_t* pixels, int64_t stride, int64_t height, uint8_t* alpha = nullptr, int64_t alphaStride = 0,
              volatile int64_t* rowsDone = nullptr)
        : pixels_(pixels), stride_(stride), height_(height), slots_(height), alpha_(alpha),
          alphaStride_(alphaStride), rowsDone_(rowsDone)
    {
    }
    // The program's section through its shared record: its rows are
    // counted there, and with `slots` fewer than `height` it is a ring.
    RowTarget(uint8_t* pixels, int64_t stride, int64_t height, int64_t slots, uint8_t* alpha, int64_t alphaStride,
              DecoderControl* record, void* room, void* rowsCame);

    // Shown row y's first byte.
    uint8_t* Row(int64_t y) const { return pixels_ + (slots_ - 1 - (y < slots_ ? y : y % slots_)) * stride_; }
    // Shown row y of the alpha plane; null when there is none.
    uint8_t* AlphaRow(int64_t y) const
    {
        return alpha_ != nullptr ? alpha_ + (height_ - 1 - y) * alphaStride_ : nullptr;
    }
    int64_t Stride() const { return stride_; }
    int64_t AlphaStride() const { return alphaStride_; }
    // Whether the alpha goes to a plane of its own rather than onto white.
    bool KeepsAlpha() const { return alpha_ != nullptr; }
    // The bottom row's first byte, where a library that writes every row
    // itself starts; null in a ring.
    uint8_t* Whole() const { return slots_ == height_ ? pixels_ : nullptr; }

    // For rows in order: counts the rows above y as done, and waits until
    // row y's slot is free; the rows from y, up to `most`, whose slots are.
    int64_t Room(int64_t y, int64_t most);
    // Counts the top `rows` rows done, in place (or, for a reader whose
    // rows come in no order, the share of the picture done).
    void Done(int64_t rows);

private:
    uint8_t* pixels_;
    int64_t stride_;
    int64_t height_;
    int64_t slots_;
    uint8_t* alpha_;
    int64_t alphaStride_;
    volatile int64_t* rowsDone_;
    DecoderControl* record_ = nullptr;
    void* room_ = nullptr;      // the program has let go of rows
    void* rowsCame_ = nullptr;  // the rows the program waits for are in
    int64_t signalled_ = -1;    // the rows rowsCame_ was last set for
};
