// Pictures for the platform's decoders are decoded in a process of their own,
// duotint-decode.exe beside the program. The platform's decoders are code we
// cannot mend and some crash or run away on small hostile files, so they
// never run inside the program: the child decodes, reports the size, and
// writes the 24-bit rows straight into a section the program maps as its
// picture, which stays the one copy of the pixels.
//
// The program watches the child: a crash; a time budget that grows with the
// declared size, for the decoding and again for each stretch of the copy
// without a new row; and a budget on the child's own memory (the shared
// pixels not counted). The child belongs to a job that ends it with the
// program.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

enum class DecodeOutcome {
    decoded,       // the size is known; after CopyInto, the pixels too
    cannotDecode,  // no decoder of the platform takes the file
    damaged,       // decoding failed part of the way
    crashed,       // the child ended without a word
    tooSlow,       // the child ran past its time budget and was ended
    tooHungry,     // the child took more memory than its budget and was ended
    tooLarge,      // the child's size passes the 2 GB limit
    noChild,       // duotint-decode.exe could not be started
    noMemory,      // no section for the pixels could be had
};

struct DecodeRequest {
    const wchar_t* path;
    // From the container probe; 1 when it found none. The platform's own
    // metadata reader wins where it has one.
    int orientation;
    // The declared size, or 0 x 0 for a kind the probe does not know: the
    // budgets grow with it.
    int64_t declaredWidth;
    int64_t declaredHeight;
    // How much of the file the decoder is handed (a GIF's first frame); 0:
    // the whole file.
    uint64_t firstBytes;
};

// The running program's full path; duotint-decode.exe stands in its folder.
std::wstring RunningProgramPath();

// The budgets for a picture of the given declared size (0 x 0: unknown).
struct DecodeBudget {
    uint32_t milliseconds;
    uint64_t memoryBytes;
};
DecodeBudget BudgetFor(int64_t width, int64_t height);

class DecoderProcess {
public:
    // No destructor: the program's one is kept in a thread's own storage,
    // which holds only plain objects (see PieceBlock in image/export.cpp).
    // Its job ends the child, when nothing else has, as the program ends.
    DecoderProcess() = default;
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    // Starts the child ahead of need, while the person is still naming the
    // picture: it readies the platform's decoders and waits for a request.
    void Start();
    // Hands the child (started now, if not yet) the picture and waits until
    // it reports the size it shows (after the orientation turn), or ends.
    DecodeOutcome Open(const DecodeRequest& request);
    int64_t Width() const { return width_; }
    int64_t Height() const { return height_; }
    bool IsOpen() const { return process_ != nullptr && width_ != 0; }
    // What the budget was that the child passed, for the refusal's sentence.
    const DecodeBudget& Budget() const { return budget_; }
    // Why the last start failed: the system's error code, 0 when it did not.
    uint32_t StartError() const { return startError_; }

    // Makes a section of stride x Height() bytes, has the child fill it
    // (bottom-up rows, zero padding) and maps it here; the child ends.
    DecodeOutcome CopyInto(int32_t stride, HANDLE& section, uint8_t*& pixels);

    // Ends the child, if any.
    void Close();

private:
    DecodeOutcome Await();

    HANDLE job_ = nullptr;
    HANDLE process_ = nullptr;
    HANDLE control_ = nullptr;    // the shared record below, both ways
    HANDLE reported_ = nullptr;   // the child has written its answer
    HANDLE go_ = nullptr;         // the program has written its request
    struct DecoderControl* record_ = nullptr;
    DecodeBudget budget_ = {};
    uint32_t startTick_ = 0;
    uint32_t startError_ = 0;
    int64_t width_ = 0;
    int64_t height_ = 0;
};

// The child's side: the whole of duotint-decode.exe. Its command line holds
// the three handle values it inherited; its exit code is 0 when it finished.
int RunDecoderChild(const wchar_t* commandLine);
