// The decoding child and the program's watch over it.
//
// They share one small record in a section of its own and two events: the
// program writes a request and sets `go`, the child writes its answer and
// sets `reported`. A picture takes two rounds: the path (the child decodes
// and answers with the size), then the pixel section (the child fills it
// and answers that it is done). Anything else the child does, such as
// crash, hang or grow, the program sees from outside and ends it.
#include "image/decode_process.h"

#include <psapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "image/picture_decode.h"
#include "support/file_io.h"

struct DecoderControl {
    // The program's request.
    int32_t orientation;
    int32_t stride;
    uint64_t pixelSection;  // the section's handle in the child; 0: no pixels wanted
    uint64_t firstBytes;    // of the file, for the decoder; 0: all of them
    wchar_t path[kLongPathCapacity];
    // The child's answer, and its progress while it fills the pixels.
    volatile int64_t rowsDone;
    int32_t outcome;        // a DecodeOutcome
    int64_t width;
    int64_t height;
};

namespace {

const uint64_t kMiB = 1024 * 1024;

// A child that dies must die quietly: no crash dialog, no debugger, just an
// exit code the program reads as a crash.
LONG WINAPI EndQuietly(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Test-only faults of the child, so that containment is tested without
// leaning on one decoder's bug: DUOTINT_DECODER_FAULT=crash, hang or hog.
void InjectTestFault()
{
    const char* fault = getenv("DUOTINT_DECODER_FAULT");
    if (fault == nullptr)
        return;
    if (strcmp(fault, "crash") == 0)
        *static_cast<volatile int*>(nullptr) = 0;
    if (strcmp(fault, "hang") == 0)
        Sleep(INFINITE);
    if (strcmp(fault, "hog") == 0)
        for (;;) {
            auto* block = static_cast<volatile uint8_t*>(VirtualAlloc(nullptr, 16 * kMiB, MEM_COMMIT, PAGE_READWRITE));
            for (size_t at = 0; block != nullptr && at < 16 * kMiB; at += 4096)
                block[at] = 1;
        }
}

// The child's own memory: its private bytes, which leave out the shared
// pixels. Windows gives them twice; Wine 8 only as the page file's share.
uint64_t PrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return 0;
    return counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// The folder of the running program, where the decoder stands too.
std::wstring ProgramFolder()
{
    std::wstring path = RunningProgramPath();
    size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return path;
}

// What the child said, read as one of the three answers it may give.
DecodeOutcome Answer(int32_t said)
{
    switch (static_cast<DecodeOutcome>(said)) {
    case DecodeOutcome::decoded:
    case DecodeOutcome::cannotDecode:
    case DecodeOutcome::damaged:
        return static_cast<DecodeOutcome>(said);
    default:
        return DecodeOutcome::crashed;
    }
}

void CloseAndClear(HANDLE& handle)
{
    if (handle != nullptr)
        CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

std::wstring RunningProgramPath()
{
    wchar_t own[kLongPathCapacity];
    const DWORD n = GetModuleFileNameW(nullptr, own, kLongPathCapacity);
    return std::wstring(own, n < kLongPathCapacity ? n : 0);
}

DecodeBudget BudgetFor(int64_t width, int64_t height)
{
    // The pixels at 3 bytes each; an unknown kind has no size yet and gets
    // the smallest budgets.
    const uint64_t pixels = 3 * static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t gb = 1000000000ull;
    return {static_cast<uint32_t>(5000 + pixels * 5000 / gb), 2 * pixels + 256 * kMiB};
}

void DecoderProcess::Start()
{
    if (process_ != nullptr)
        return;
    Close();
    startError_ = 0;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    control_ = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0, sizeof(DecoderControl),
                                  nullptr);
    reported_ = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    go_ = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    job_ = CreateJobObjectW(nullptr, nullptr);
    if (control_ != nullptr)
        record_ = static_cast<DecoderControl*>(MapViewOfFile(control_, FILE_MAP_WRITE, 0, 0, sizeof(DecoderControl)));
    if (record_ == nullptr || reported_ == nullptr || go_ == nullptr || job_ == nullptr) {
        startError_ = GetLastError();
        Close();
        return;
    }
    // The child ends with the program, and an exception it does not handle
    // ends it at once.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    const std::wstring folder = ProgramFolder();
    const std::wstring exe = folder + L"duotint-decode.exe";
    wchar_t commandLine[256];
    swprintf(commandLine, 256, L"\"duotint-decode\" %llu %llu %llu",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(control_)),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(reported_)),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(go_)));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    // It starts in the program's folder: the picture's path is absolute, and
    // the current folder may be one Wine cannot start a process in. A start
    // the system refuses for another reason than a missing file is tried
    // again: under Wine about one start in 3000 fails with an internal error
    // (1359) when several programs start processes side by side.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(exe.c_str(), commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &child))
            break;
        startError_ = GetLastError();
        if (attempt == 3 || startError_ == ERROR_FILE_NOT_FOUND || startError_ == ERROR_PATH_NOT_FOUND) {
            Close();
            return;
        }
        Sleep(100 * attempt);
    }
    startError_ = 0;
    process_ = child.hProcess;
    // Should the job refuse it (a job of our own caller may), it still ends
    // when Close ends it.
    AssignProcessToJobObject(job_, process_);
    ResumeThread(child.hThread);
    CloseHandle(child.hThread);
}

DecodeOutcome DecoderProcess::Open(const DecodeRequest& request)
{
    if (width_ != 0)
        Close();  // a child serves one picture
    Start();
    if (process_ == nullptr)
        return DecodeOutcome::noChild;
    budget_ = BudgetFor(request.declaredWidth, request.declaredHeight);
    startTick_ = GetTickCount();
    record_->orientation = request.orientation;
    record_->firstBytes = request.firstBytes;
    wcsncpy(record_->path, request.path, kLongPathCapacity - 1);
    SetEvent(go_);
    DecodeOutcome outcome = Await();
    if (outcome != DecodeOutcome::decoded)
        return outcome;
    // The child's words are not trusted further than they can be checked.
    width_ = record_->width;
    height_ = record_->height;
    if (width_ < 1 || height_ < 1 || width_ > 0x7FFFFFFF || height_ > 0x7FFFFFFF) {
        Close();
        return DecodeOutcome::damaged;
    }
    // A kind the probe did not know has its budgets from here on.
    if (request.declaredWidth == 0)
        budget_ = BudgetFor(width_, height_);
    return DecodeOutcome::decoded;
}

DecodeOutcome DecoderProcess::CopyInto(int32_t stride, HANDLE& section, uint8_t*& pixels)
{
    const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height_);
    section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                 static_cast<DWORD>(bytes), nullptr);
    HANDLE childSection = nullptr;
    if (section == nullptr) {
        Close();
        return DecodeOutcome::noMemory;
    }
    if (!DuplicateHandle(GetCurrentProcess(), section, process_, &childSection, FILE_MAP_WRITE, FALSE, 0)) {
        // The child may have ended while it waited: that is a crash.
        const bool ended = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        Close();
        return ended ? DecodeOutcome::crashed : DecodeOutcome::noMemory;
    }
    record_->stride = stride;
    record_->pixelSection = reinterpret_cast<uintptr_t>(childSection);
    startTick_ = GetTickCount();
    SetEvent(go_);
    DecodeOutcome outcome = Await();
    Close();
    if (outcome != DecodeOutcome::decoded)
        return outcome;
    pixels = static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(bytes)));
    return pixels != nullptr ? DecodeOutcome::decoded : DecodeOutcome::noMemory;
}

DecodeOutcome DecoderProcess::Await()
{
    HANDLE waits[2] = {reported_, process_};
    int64_t rowsSeen = record_->rowsDone;
    for (;;) {
        // While rows come out the child is not stuck: Wine's decoders do all
        // their work before the first row, so progress is only watched here,
        // and the budget restarts with each piece.
        if (record_->rowsDone != rowsSeen) {
            rowsSeen = record_->rowsDone;
            startTick_ = GetTickCount();
        }
        // A short wait, so that time and memory are looked at often: a child
        // can take some hundred MiB in the meantime.
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 20);
        if (woke == WAIT_OBJECT_0)
            return Answer(record_->outcome);
        if (woke == WAIT_OBJECT_0 + 1) {
            const bool answered = WaitForSingleObject(reported_, 0) == WAIT_OBJECT_0;
            const DecodeOutcome said = Answer(record_->outcome);
            Close();
            return answered ? said : DecodeOutcome::crashed;
        }
        if (GetTickCount() - startTick_ > budget_.milliseconds) {
            Close();
            return DecodeOutcome::tooSlow;
        }
        if (PrivateBytes(process_) > budget_.memoryBytes) {
            Close();
            return DecodeOutcome::tooHungry;
        }
    }
}

void DecoderProcess::Close()
{
    // Not waited for: the system lets go of all it held once it is gone.
    if (process_ != nullptr)
        TerminateProcess(process_, 1);
    CloseAndClear(process_);
    CloseAndClear(job_);
    if (record_ != nullptr)
        UnmapViewOfFile(record_);
    record_ = nullptr;
    CloseAndClear(control_);
    CloseAndClear(reported_);
    CloseAndClear(go_);
    width_ = height_ = 0;
}

int RunDecoderChild(const wchar_t* commandLine)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndQuietly);
    // The three handle values follow the program's name.
    const wchar_t* at = wcschr(commandLine, L' ');
    wchar_t* end = nullptr;
    HANDLE handles[3] = {};
    for (HANDLE& handle : handles) {
        if (at == nullptr)
            return 2;
        handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(at, &end, 10)));
        at = end;
    }
    auto* record = static_cast<DecoderControl*>(MapViewOfFile(handles[0], FILE_MAP_WRITE, 0, 0, sizeof(DecoderControl)));
    if (record == nullptr)
        return 2;
    HANDLE reported = handles[1], go = handles[2];
    PrepareDecoders();
    auto answer = [&](DecodeOutcome outcome) {
        record->outcome = static_cast<int32_t>(outcome);
        SetEvent(reported);
    };

    WaitForSingleObject(go, INFINITE);
    InjectTestFault();
    DecodedPicture picture;
    if (!picture.Open(record->path, record->orientation, record->firstBytes)) {
        answer(DecodeOutcome::cannotDecode);
        return 0;
    }
    record->width = picture.Width();
    record->height = picture.Height();
    answer(DecodeOutcome::decoded);

    WaitForSingleObject(go, INFINITE);
    const auto section = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record->pixelSection));
    const SIZE_T bytes = static_cast<SIZE_T>(record->stride) * static_cast<SIZE_T>(record->height);
    auto* pixels = static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, bytes));
    const bool whole = pixels != nullptr && picture.CopyInto(pixels, record->stride, &record->rowsDone);
    answer(whole ? DecodeOutcome::decoded : DecodeOutcome::damaged);
    return 0;
}
