// The record the program and its decoding child share, in a section of its
// own, and the requests the program writes into it (see decode_process.cpp).
//
// Rows through a ring: the program lets go of the top rows as it is done
// with them (rowsLetGo) and sets the `room` event when the child waits for
// one of their slots (roomWanted); the child sets `rowsCame` when its rows
// reach those a thread of the program waits for (rowsWanted). Each side
// writes its own field, then reads the other's, with a full fence between,
// so that no wake-up is missed; both wait with a timeout besides.
#pragma once

#include <cstdint>

#include "support/failure.h"  // kLongPathCapacity

enum : int32_t { kOpenRequest = 1, kCopyRequest, kReleaseRequest };

struct DecoderControl {
    // The program's request.
    int32_t request;        // kOpenRequest, kCopyRequest or kReleaseRequest
    int32_t orientation;
    int32_t stride;
    // The alpha plane's row stride, its rows after the colour rows; 0: no
    // plane, and the colour is flattened onto white.
    int32_t alphaStride;
    uint64_t pixelSection;  // the section's handle in the child
    // The most memory the decoder's own buffers may take, when it can be
    // told: the picture's budget.
    uint64_t memoryBytes;
    int32_t kind;           // the ContainerKind the probe found: the child picks its decoder by it
    // The size the probe read; 0 x 0 when it read none. A library that can
    // be told refuses larger pictures inside the file (a HEIF's tiles).
    int64_t declaredWidth;
    int64_t declaredHeight;
    char fault[32];         // a test-only fault for this picture; empty: none
    // The picture's file: a section of it, read-only, whose handle is the
    // child's; and its size.
    uint64_t fileSection;
    uint64_t fileBytes;
    // The child's answer, and its progress while it fills the pixels.
    volatile int64_t rowsDone;
    // Set by the child as a picture opens, and again as its copy begins,
    // when its decoder writes whole rows in order from the top: rowsDone
    // then counts the top rows in place, and the program may read them
    // before the copy ends.
    volatile int32_t rowsInOrder;
    // Copy: the rows the section holds, as a ring (shown row y in slot
    // y % ringRows), for a picture whose rows come in order; 0: every row.
    int32_t ringRows;
    // The top rows the program has let go of: their slots may be written again.
    volatile int64_t rowsLetGo;
    // The row the child waits to write for want of a free slot; -1: none.
    volatile int64_t roomWanted;
    // The top rows a thread of the program waits for; -1: none.
    volatile int64_t rowsWanted;
    int32_t outcome;        // a DecodeOutcome
    int64_t width;
    int64_t height;
    // Open: the picture's pixels can be transparent. Copy: some pixel of the
    // alpha plane is not opaque.
    int32_t alpha;
    // The decoder's own words on a failure (libjpeg's message); empty: none.
    char message[200];
};
