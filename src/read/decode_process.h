// Every picture but our own BMP is decoded in a process of its own,
// duotint-decode.exe beside the program: a JPEG by libjpeg-turbo, a WebP by
// libwebp, the rest by the platform's decoders. Decoders are C we do not
// write, handed files from anywhere, and the platform's crash or run away on
// small hostile files, so none runs inside the program: the child decodes,
// reports the size, and writes the 24-bit rows (and, when asked, an alpha
// plane) straight into a section the program maps as its picture, which
// stays the one copy of the pixels. One child serves the
// pictures of one reader (the editor, a worker of duotint-cli) in turn.
//
// The program watches the child while it works on a picture: a crash; its
// own CPU time, within a budget that grows with the declared size; the
// clock, which catches a child that sleeps or waits; and its own memory
// (the shared pixels not counted). A child that fails any of these is ended
// and the next picture gets a fresh one. The child belongs to a job that
// ends it with the program.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "formats/probe.h"

enum class DecodeOutcome {
    decoded,       // the size is known; after CopyInto, the pixels too
    cannotDecode,  // no decoder of the platform takes the file
    damaged,       // decoding failed part of the way
    cutShort,      // the file ends before the picture does
    crashed,       // the child ended without a word
    tooSlow,       // the child worked past its CPU budget and was ended
    stalled,       // the child showed no progress for too long and was ended
    tooHungry,     // the child took more memory than its budget and was ended
    tooLarge,      // the child's size passes the 2 GB limit
    noChild,       // duotint-decode.exe could not be started
    noMemory,      // no section for the pixels could be had
};

struct DecodeRequest {
    // The picture's file, as the probe read it: the child reads this file
    // through a handle of its own, not whatever a name leads to by then.
    HANDLE file;
    // From the container probe; 1 when it found none. The platform's own
    // metadata reader wins where it has one.
    int orientation;
    // The declared size, or 0 x 0 for a kind the probe does not know: the
    // budgets grow with it.
    int64_t declaredWidth;
    int64_t declaredHeight;
    // The copy may ask for an alpha plane: the budgets count its byte.
    bool alpha = false;
    // The kind the probe found: the decoding process hands a JPEG to
    // libjpeg-turbo, a WebP to libwebp, a HEIF to libheif, a GIF to giflib,
    // the rest to the platform.
    ContainerKind kind = ContainerKind::unknown;
};

// The budgets for a picture of the given declared size (0 x 0: unknown),
// with an alpha plane or without, of the kind the probe found.
struct DecodeBudget {
    // The child's own work on the picture (its CPU time, user and kernel),
    // from the request to the last row, never renewed: what decoding the
    // picture may cost. Time the child spends waiting for a core on a busy
    // machine is not counted.
    uint32_t cpuMilliseconds;
    // The clock, from the last sign of progress (a request, a new row): a
    // child that sleeps or waits does no work, and only this catches it.
    // New rows keep a large picture's copy alive.
    uint32_t wallMilliseconds;
    // The child's own memory, above what it held when the picture began.
    uint64_t memoryBytes;
};
DecodeBudget BudgetFor(int64_t width, int64_t height, bool alpha = false,
                       ContainerKind kind = ContainerKind::unknown);

class DecoderProcess {
public:
    // The child ends with its object; its job ends it, when nothing else
    // has, as the program ends.
    DecoderProcess() = default;
    ~DecoderProcess() { Close(); }
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    // Starts the child ahead of need, while the person is still naming the
    // picture: it waits for a request. With `platformAhead`, it readies the
    // platform's decoders meanwhile, which it otherwise does on the first
    // picture that needs them.
    void Start(bool platformAhead = false);
    // Hands the child (started now, if none serves) the picture and waits
    // until it reports the size it shows (after the orientation turn), or
    // ends. A picture still held from before is let go first.
    DecodeOutcome Open(const DecodeRequest& request);
    int64_t Width() const { return width_; }
    int64_t Height() const { return height_; }
    // Whether the opened picture's pixels can be transparent, as the child says.
    bool HasAlpha() const { return alpha_; }
    // Whether the opened picture's rows will come whole and in order from
    // the top, as the child says: only then may its copy go through a ring.
    bool RowsInOrder() const { return inOrder_; }
    bool IsOpen() const { return process_ != nullptr && width_ != 0; }
    // What the budget was that the child passed, for the refusal's sentence.
    const DecodeBudget& Budget() const { return budget_; }
    // The decoder's own words on why the last request failed, as it gave
    // them (libjpeg's messages); empty when it gave none.
    const std::string& Message() const { return message_; }
    // Why the last start failed: the system's error code, 0 when it did not.
    uint32_t StartError() const { return startError_; }
    // The serving child's process id; 0 when none serves.
    uint32_t ChildId() const { return process_ != nullptr ? GetProcessId(process_) : 0; }

    // Makes a section of stride x Height() bytes, has the child fill it
    // (bottom-up rows, zero padding) and maps it here; the child lets go of
    // the picture and waits for the next. With `alphaStride`, the section
    // holds an alpha plane of alphaStride x Height() bytes after the rows,
    // and the rows keep their straight colour where they are not flattened
    // onto white; Translucent() then says whether any pixel is not opaque.
    DecodeOutcome CopyInto(int32_t stride, HANDLE& section, uint8_t*& pixels, int32_t alphaStride = 0);
    bool Translucent() const { return translucent_; }

    // CopyInto in two halves, so that the rows can be read as they come:
    // BeginCopy hands the child the section, mapped here at once, and
    // returns; AwaitRows watches the child as CopyInto does, until the top
    // `rows` rows are in place, which it can tell only when the decoder
    // writes them in order, else until the copy ends. Asked
    // for every row, it waits for the copy's end: only then is a picture
    // known whole (a decoder may find the damage at its last step). Once
    // the copy has ended it answers with its outcome; any thread may wait,
    // one at a time. Through a ring, one thread awaits the rows, in order: a
    // thread whose rows are in, kept waiting behind another's wait for rows
    // further down, would hold the slots those rows need.
    //
    // With `ringRows` fewer than the picture's rows, and rows in order
    // without an alpha plane, the section holds only that many rows, a
    // ring: shown row y in slot y % ringRows, the slots bottom-up as a
    // picture's rows are. The child waits for a slot until LetGo has let go
    // of the row before it there; the watch holds its clock while the child
    // waits so, its rows filling the ring, since that wait is the reader's.
    DecodeOutcome BeginCopy(int32_t stride, HANDLE& section, uint8_t*& pixels, int32_t alphaStride = 0,
                            int32_t ringRows = 0);
    DecodeOutcome AwaitRows(int64_t rows);
    // The top `rows` rows of a copy through a ring are read and done with:
    // the child may write their slots again. Any thread may let go, and
    // never waits for another.
    void LetGo(int64_t rows);

    // Has the child let go of the picture it holds, if any, keeping the
    // child for the next one.
    void Release();
    // Ends the child, if any.
    void Close();

private:
    DecodeOutcome Ask(int32_t request);
    // Gives the child the file as a read-only section of it, in the record;
    // false when it cannot.
    bool HandFileToChild(HANDLE file);
    // Waits for the child's answer; with `rowsWanted` of 0 or more, returns
    // `decoded` with `early` set as soon as that many top rows of a copy are
    // in place.
    DecodeOutcome Await(int64_t rowsWanted = -1, bool* early = nullptr);
    uint64_t CpuTime() const;
    void EndIfStillLarge();

    HANDLE job_ = nullptr;
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;     // the child's main thread, where it decodes
    HANDLE control_ = nullptr;    // the shared record below, both ways
    HANDLE reported_ = nullptr;   // the child has written its answer
    HANDLE go_ = nullptr;         // the program has written its request
    HANDLE room_ = nullptr;       // the program has let go of rows of a ring
    HANDLE rowsCame_ = nullptr;   // the rows a thread waits for are in
    struct DecoderControl* record_ = nullptr;
    bool ready_ = false;          // the child has readied its decoders
    uint64_t readyBytes_ = 0;     // its own memory then
    DecodeBudget budget_ = {};
    uint64_t cpuAtStart_ = 0;     // its CPU time as the picture began, in 100 ns
    uint64_t bytesAtStart_ = 0;   // its own memory then
    uint32_t startError_ = 0;
    int64_t width_ = 0;
    int64_t height_ = 0;
    bool alpha_ = false;
    bool inOrder_ = false;
    bool translucent_ = false;
    std::string message_;
    // A copy under way: its rows, and how it ended once it has.
    std::mutex copyLock_;
    bool copying_ = false;
    int64_t copyHeight_ = 0;
    int32_t copyAlphaStride_ = 0;
    int64_t ringRows_ = 0;        // the copy's ring; 0: every row
    // Held while the record is written by LetGo or let go of by Close:
    // copyLock_ may be held by a thread that waits for rows the child
    // writes only once another has let go of some.
    std::mutex letGoLock_;
    DecodeOutcome copyOutcome_ = DecodeOutcome::decoded;
};
