#include "decoder/row_target.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "read/decode_protocol.h"

namespace {

// How long the child sleeps at most before it looks at the ring again: the
// program's event wakes it sooner, this only bounds a wake-up it missed.
const DWORD kRoomRecheckMs = 100;

}  // namespace

RowTarget::RowTarget(uint8_t* pixels, int64_t stride, int64_t height, int64_t slots, uint8_t* alpha,
                     int64_t alphaStride, DecoderControl* record, void* room, void* rowsCame)
    : pixels_(pixels), stride_(stride), height_(height), slots_(slots > 0 && slots < height ? slots : height),
      alpha_(alpha), alphaStride_(alphaStride), rowsDone_(&record->rowsDone), record_(record), room_(room),
      rowsCame_(rowsCame)
{
}

void RowTarget::Done(int64_t rows)
{
    if (rowsDone_ == nullptr)
        return;
    // A reader of the section takes the rows counted: they are written first.
    std::atomic_thread_fence(std::memory_order_release);
    *rowsDone_ = rows;
    if (record_ == nullptr)
        return;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const int64_t wanted = record_->rowsWanted;
    if (wanted >= 0 && rows >= wanted && wanted != signalled_) {
        signalled_ = wanted;
        SetEvent(static_cast<HANDLE>(rowsCame_));
    }
}

int64_t RowTarget::Room(int64_t y, int64_t most)
{
    // The program's watch holds its clock for a child that waits for a
    // slot only while the rows it counted fill the ring.
    if (rowsDone_ != nullptr && *rowsDone_ < y)
        Done(y);
    if (record_ == nullptr || slots_ == height_)
        return most;
    // Test-only (DUOTINT_DECODER_FAULT): a child that stops at its first
    // row, saying it waits for a slot it has.
    if (strcmp(record_->fault, "ring-stop") == 0) {
        record_->roomWanted = y;
        Sleep(INFINITE);
    }
    for (;;) {
        const int64_t room = record_->rowsLetGo + slots_ - y;
        if (room > 0) {
            // The program read the slots before it let go of them.
            std::atomic_thread_fence(std::memory_order_acquire);
            record_->roomWanted = -1;
            return room < most ? room : most;
        }
        record_->roomWanted = y;
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (record_->rowsLetGo + slots_ > y)
            continue;
        // Test-only: a child that ends while it waits for a slot.
        if (strcmp(record_->fault, "ring-end") == 0)
            TerminateProcess(GetCurrentProcess(), 1);
        WaitForSingleObject(static_cast<HANDLE>(room_), kRoomRecheckMs);
    }
}
