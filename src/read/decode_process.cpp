// The decoding child and the program's watch over it.
//
// They share one small record in a section of its own and two events: the
// program writes a request and sets `go`, the child writes its answer and
// sets `reported`. The child first answers once it has readied its
// decoders. A picture then takes two requests: open (the child decodes and
// answers with the size) and copy (the child fills the pixel section, lets
// go of the picture and answers that it is done); release lets go of a
// picture the program no longer wants. Anything else the child does, such
// as crash, hang or grow, the program sees from outside and ends it.
#include "read/decode_process.h"

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>

#include "read/decode_protocol.h"
#include "support/system.h"

namespace {

const uint64_t kMiB = 1024 * 1024;
// What a child may keep of its own memory over what it held when ready, and
// still serve the next picture: a decoder's caches after a small picture
// stay below it, the heap of a large one does not.
const uint64_t kMostKeptGrowth = 64 * kMiB;


// A variable of the program's environment as it is now (the C runtime's
// getenv keeps the one of the program's start); empty when it is not set.
std::string EnvironmentText(const char* name)
{
    char text[64];
    const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
    return std::string(text, n < sizeof text ? n : 0);
}

// Test-only: DUOTINT_DECODER_FAULT names a fault of InjectTestFault or
// SlowRows. Read here in the program, for each picture.
void ChooseTestFault(char (&fault)[32])
{
    snprintf(fault, sizeof fault, "%s", EnvironmentText("DUOTINT_DECODER_FAULT").c_str());
}

// Test-only: DUOTINT_TEST_DECODER_TIME_SCALE (between 0 and 1) shrinks both
// time limits, so that a test of them takes seconds rather than minutes.
// Read here in the program only.
DecodeBudget ScaledForTest(DecodeBudget budget)
{
    const double scale = atof(EnvironmentText("DUOTINT_TEST_DECODER_TIME_SCALE").c_str());
    if (scale > 0 && scale < 1) {
        budget.cpuMilliseconds = static_cast<uint32_t>(budget.cpuMilliseconds * scale);
        budget.wallMilliseconds = static_cast<uint32_t>(budget.wallMilliseconds * scale);
    }
    return budget;
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

// The program's environment for the child, with the platform's diagnostics
// turned off: under Wine the decoders' "err:" lines would otherwise go to
// the program's standard error, several for one damaged picture. Windows
// ignores WINEDEBUG.
std::wstring QuietEnvironment()
{
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1)
        if (_wcsnicmp(entry, L"WINEDEBUG=", 10) != 0)
            block.append(entry, wcslen(entry) + 1);
    if (strings != nullptr)
        FreeEnvironmentStringsW(strings);
    block.append(L"WINEDEBUG=-all", 15);
    block.push_back(L'\0');
    return block;
}

// One child starts at a time in the program: a child inherits every handle
// that is inheritable as it starts, and another reader's record and events
// must not be among them.
std::mutex startLock;

// What the child said, read as one of the answers it may give.
DecodeOutcome Answer(int32_t said)
{
    switch (static_cast<DecodeOutcome>(said)) {
    case DecodeOutcome::decoded:
    case DecodeOutcome::cannotDecode:
    case DecodeOutcome::damaged:
    case DecodeOutcome::cutShort:
    case DecodeOutcome::tooHungry:
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

DecodeBudget BudgetFor(int64_t width, int64_t height, bool alpha, ContainerKind kind)
{
    // The pixels at 3 bytes each, 4 with an alpha plane; an unknown kind has
    // no size yet and gets the smallest budgets.
    const uint64_t pixels = (alpha ? 4 : 3) * static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t gb = 1000000000ull;
    // libheif decodes a HEIF whole, at many times a JPEG's work a pixel: a
    // 6000 x 4000 HEIC took 2.2 s of the decoding thread's work under Wine
    // (libde265 locks through the Wine server at every block), 31 s a GB of
    // pixels. A HEIF gets twice that.
    const uint64_t workPerGb = kind == ContainerKind::heif ? 60000 : 5000;
    const uint32_t cpu = static_cast<uint32_t>(5000 + pixels * workPerGb / gb);
    // The clock gets four times the work, and at least a minute: on a busy
    // machine the child waits for a core, and is slow without being stuck.
    const uint32_t wall = cpu < 15000 ? 60000 : 4 * cpu;
    return {cpu, wall, 2 * pixels + 256 * kMiB};
}

void DecoderProcess::Start(bool platformAhead)
{
    if (process_ != nullptr)
        return;
    Close();
    startError_ = 0;
    std::lock_guard<std::mutex> held(startLock);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    control_ = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0, sizeof(DecoderControl),
                                  nullptr);
    reported_ = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    go_ = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    room_ = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    rowsCame_ = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    job_ = CreateJobObjectW(nullptr, nullptr);
    if (control_ != nullptr)
        record_ = static_cast<DecoderControl*>(MapViewOfFile(control_, FILE_MAP_WRITE, 0, 0, sizeof(DecoderControl)));
    if (record_ == nullptr || reported_ == nullptr || go_ == nullptr || room_ == nullptr || rowsCame_ == nullptr ||
        job_ == nullptr) {
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
    std::wstring environment = QuietEnvironment();
    wchar_t commandLine[256];
    auto Number = [](HANDLE handle) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)); };
    swprintf(commandLine, 256, L"\"duotint-decode\" %llu %llu %llu %llu %llu%ls", Number(control_), Number(reported_),
             Number(go_), Number(room_), Number(rowsCame_), platformAhead ? L" platform" : L"");
    // No standard handles: nothing the decoders write reaches the program's.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION child = {};
    // It starts in the program's folder: the picture's path is absolute, and
    // the current folder may be one Wine cannot start a process in. A start
    // the system refuses for another reason than a missing file is tried
    // again: under Wine a start now and then fails with an internal error
    // (1359) when several programs start processes side by side.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(exe.c_str(), commandLine, nullptr, nullptr, TRUE,
                           CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, &environment[0],
                           folder.empty() ? nullptr : folder.c_str(), &startup, &child))
            break;
        startError_ = GetLastError();
        if (attempt == 3 || startError_ == ERROR_FILE_NOT_FOUND || startError_ == ERROR_PATH_NOT_FOUND) {
            Close();
            return;
        }
        Sleep(100 * attempt);
    }
    for (HANDLE handle : {control_, reported_, go_, room_, rowsCame_})
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    startError_ = 0;
    process_ = child.hProcess;
    thread_ = child.hThread;
    // Should the job refuse it (a job of our own caller may), it still ends
    // when Close ends it.
    AssignProcessToJobObject(job_, process_);
    ResumeThread(thread_);
}

uint64_t DecoderProcess::CpuTime() const
{
    // Wine 8 keeps no true CPU time for another process (GetProcessTimes
    // gives 0, or figures that are not the child's), only for its threads;
    // there the child's main thread, where it decodes, stands in.
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    FILETIME created, ended, kernel, user;
    if (!wine && GetProcessTimes(process_, &created, &ended, &kernel, &user))
        return Ticks(kernel) + Ticks(user);
    return ThreadCpu(thread_);
}

bool DecoderProcess::HandFileToChild(HANDLE file)
{
    // A section made from the handle is of the file the handle holds,
    // whatever its name leads to by now (under Wine, opening the handle
    // again goes by the name); and the child's reading of it moves no
    // position the program reads at.
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size))
        return false;
    HANDLE section = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    HANDLE childSection = nullptr;
    if (section == nullptr ||
        !DuplicateHandle(GetCurrentProcess(), section, process_, &childSection, 0, FALSE,
                         DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE))
        return false;
    record_->fileSection = reinterpret_cast<uintptr_t>(childSection);
    record_->fileBytes = static_cast<uint64_t>(size.QuadPart);
    return true;
}

DecodeOutcome DecoderProcess::Open(const DecodeRequest& request)
{
    Release();
    alpha_ = inOrder_ = false;
    Start();
    if (process_ == nullptr)
        return DecodeOutcome::noChild;
    if (!ready_) {
        // Readying the decoders is watched as a picture of unknown size, at
        // full budgets even in a test: its work is the platform's start.
        budget_ = BudgetFor(0, 0);
        cpuAtStart_ = bytesAtStart_ = 0;
        const DecodeOutcome outcome = Await();
        if (outcome != DecodeOutcome::decoded) {
            Close();
            return outcome;
        }
        ready_ = true;
        readyBytes_ = PrivateBytes(process_);
    }
    budget_ = ScaledForTest(BudgetFor(request.declaredWidth, request.declaredHeight, request.alpha, request.kind));
    record_->orientation = request.orientation;
    record_->memoryBytes = budget_.memoryBytes;
    record_->kind = static_cast<int32_t>(request.kind);
    record_->declaredWidth = request.declaredWidth;
    record_->declaredHeight = request.declaredHeight;
    if (!HandFileToChild(request.file)) {
        // The child may have ended while it waited: that is a crash.
        const bool ended = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        Close();
        return ended ? DecodeOutcome::crashed : DecodeOutcome::cannotDecode;
    }
    ChooseTestFault(record_->fault);
    cpuAtStart_ = CpuTime();
    bytesAtStart_ = PrivateBytes(process_);
    const DecodeOutcome outcome = Ask(kOpenRequest);
    if (outcome != DecodeOutcome::decoded)
        return outcome;
    // The child's words are not trusted further than they can be checked.
    width_ = record_->width;
    height_ = record_->height;
    alpha_ = record_->alpha != 0;
    inOrder_ = record_->rowsInOrder != 0;
    if (width_ < 1 || height_ < 1 || width_ > 0x7FFFFFFF || height_ > 0x7FFFFFFF) {
        Close();
        return DecodeOutcome::damaged;
    }
    // A kind the probe did not know has its budgets from here on, still
    // counted from the picture's start.
    if (request.declaredWidth == 0)
        budget_ = ScaledForTest(BudgetFor(width_, height_, request.alpha, request.kind));
    return DecodeOutcome::decoded;
}

DecodeOutcome DecoderProcess::CopyInto(int32_t stride, HANDLE& section, uint8_t*& pixels, int32_t alphaStride)
{
    const DecodeOutcome outcome = BeginCopy(stride, section, pixels, alphaStride);
    return outcome == DecodeOutcome::decoded ? AwaitRows(copyHeight_) : outcome;
}

DecodeOutcome DecoderProcess::BeginCopy(int32_t stride, HANDLE& section, uint8_t*& pixels, int32_t alphaStride,
                                        int32_t ringRows)
{
    translucent_ = false;
    pixels = nullptr;
    const int64_t ring = ringRows > 0 && ringRows < height_ && inOrder_ && alphaStride == 0 ? ringRows : 0;
    const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(ring != 0 ? ring : height_) +
                           static_cast<uint64_t>(alphaStride) * static_cast<uint64_t>(height_);
    section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                 static_cast<DWORD>(bytes), nullptr);
    HANDLE childSection = nullptr;
    if (section != nullptr)
        pixels = static_cast<uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(bytes)));
    if (pixels == nullptr) {
        Release();
        return DecodeOutcome::noMemory;
    }
    if (!DuplicateHandle(GetCurrentProcess(), section, process_, &childSection, FILE_MAP_WRITE, FALSE, 0)) {
        // The child may have ended while it waited: that is a crash.
        const bool ended = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        if (ended)
            Close();
        Release();
        return ended ? DecodeOutcome::crashed : DecodeOutcome::noMemory;
    }
    record_->stride = stride;
    record_->alphaStride = alphaStride;
    record_->pixelSection = reinterpret_cast<uintptr_t>(childSection);
    record_->rowsDone = 0;
    record_->rowsInOrder = 0;
    record_->ringRows = static_cast<int32_t>(ring);
    record_->rowsLetGo = 0;
    record_->roomWanted = -1;
    record_->rowsWanted = -1;
    ringRows_ = ring;
    copyHeight_ = height_;
    copyAlphaStride_ = alphaStride;
    copying_ = true;
    width_ = height_ = 0;  // the child lets go of the picture however the copy ends
    record_->request = kCopyRequest;
    SetEvent(go_);
    return DecodeOutcome::decoded;
}

DecodeOutcome DecoderProcess::AwaitRows(int64_t rows)
{
    std::lock_guard<std::mutex> held(copyLock_);
    if (!copying_)
        return copyOutcome_;
    const bool some = rows < copyHeight_;
    bool early = false;
    const DecodeOutcome outcome = Await(some ? rows : -1, &early);
    if (early)
        return DecodeOutcome::decoded;
    // The child's word on transparency is read before a child grown too
    // large is ended, and its record with it.
    copying_ = false;
    copyOutcome_ = outcome;
    translucent_ = outcome == DecodeOutcome::decoded && copyAlphaStride_ != 0 && record_ != nullptr &&
                   record_->alpha != 0;
    EndIfStillLarge();
    return outcome;
}

void DecoderProcess::LetGo(int64_t rows)
{
    std::lock_guard<std::mutex> held(letGoLock_);
    if (record_ == nullptr || ringRows_ == 0 || rows <= record_->rowsLetGo)
        return;
    // The rows were read before they are let go of.
    std::atomic_thread_fence(std::memory_order_release);
    record_->rowsLetGo = rows;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const int64_t wanted = record_->roomWanted;
    if (wanted >= 0 && wanted < rows + ringRows_)
        SetEvent(room_);
}

void DecoderProcess::Release()
{
    // A copy nobody waits for any more ends with its child: the next
    // request cannot be heard while it runs.
    if (copying_) {
        Close();
        return;
    }
    if (width_ == 0)
        return;
    width_ = height_ = 0;
    if (Ask(kReleaseRequest) != DecodeOutcome::decoded)
        Close();
    EndIfStillLarge();
}

void DecoderProcess::EndIfStillLarge()
{
    if (process_ != nullptr && PrivateBytes(process_) > readyBytes_ + kMostKeptGrowth)
        Close();
}

DecodeOutcome DecoderProcess::Ask(int32_t request)
{
    record_->request = request;
    SetEvent(go_);
    return Await();
}

DecodeOutcome DecoderProcess::Await(int64_t rowsWanted, bool* early)
{
    message_.clear();
    // The child's words, as far as they go within the record's field.
    auto ReadMessage = [&] {
        const char* words = record_->message;
        message_.assign(words, strnlen(words, sizeof record_->message));
    };
    HANDLE waits[3] = {reported_, process_, rowsCame_};
    int64_t rowsSeen = record_->rowsDone;
    DWORD progressTick = GetTickCount();
    // The child sets rowsCame_ once its rows reach those wanted.
    record_->rowsWanted = rowsWanted;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    for (;;) {
        if (rowsWanted >= 0 && record_->rowsInOrder != 0 && record_->rowsDone >= rowsWanted) {
            // The child wrote the rows before it counted them.
            std::atomic_thread_fence(std::memory_order_acquire);
            record_->rowsWanted = -1;
            *early = true;
            return DecodeOutcome::decoded;
        }
        // A short wait, so that time and memory are looked at often: a child
        // can take some hundred MiB in the meantime.
        const DWORD woke = WaitForMultipleObjects(rowsWanted >= 0 ? 3 : 2, waits, FALSE, 20);
        if (woke == WAIT_OBJECT_0 + 2)
            continue;
        if (woke == WAIT_OBJECT_0) {
            ReadMessage();
            return Answer(record_->outcome);
        }
        if (woke == WAIT_OBJECT_0 + 1) {
            const bool answered = WaitForSingleObject(reported_, 0) == WAIT_OBJECT_0;
            const DecodeOutcome said = Answer(record_->outcome);
            if (answered)
                ReadMessage();
            Close();
            return answered ? said : DecodeOutcome::crashed;
        }
        // Wine's decoders do all their work before the first row, so rows
        // are the only progress there is to see.
        if (record_->rowsDone != rowsSeen) {
            rowsSeen = record_->rowsDone;
            progressTick = GetTickCount();
        }
        // A child that waits for a slot of a ring its counted rows fill
        // waits for this program, which reads them: no stall of its own.
        // Rows it says it waits for past those counted would hold the
        // clock with no rows for the program, so they do not.
        if (ringRows_ != 0 && record_->roomWanted == rowsSeen && rowsSeen >= record_->rowsLetGo + ringRows_)
            progressTick = GetTickCount();

        if (CpuTime() - cpuAtStart_ > uint64_t{budget_.cpuMilliseconds} * 10000) {
            Close();
            return DecodeOutcome::tooSlow;
        }
        if (GetTickCount() - progressTick > budget_.wallMilliseconds) {
            Close();
            return DecodeOutcome::stalled;
        }
        if (PrivateBytes(process_) > bytesAtStart_ + budget_.memoryBytes) {
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
    CloseAndClear(thread_);
    CloseAndClear(job_);
    {
        std::lock_guard<std::mutex> held(letGoLock_);
        if (record_ != nullptr)
            UnmapViewOfFile(record_);
        record_ = nullptr;
        CloseAndClear(room_);
    }
    CloseAndClear(control_);
    CloseAndClear(reported_);
    CloseAndClear(go_);
    CloseAndClear(rowsCame_);
    ready_ = false;
    width_ = height_ = 0;
    if (copying_) {
        copying_ = false;
        copyOutcome_ = DecodeOutcome::crashed;
    }
}

