// Runtime errors, the report and the end of the process.
#include "editor/error.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "support/library_function.h"
#include "support/picture_names.h"
#include "support/system.h"
#include "support/utf8.h"

RuntimeErrorState errorState;

namespace {

// Texts are UTF-8 (a command-line path may hold any character), so the box
// is shown through the wide function, looked up when a box is shown: a
// program that shows none (duotint-cli, the decoding process) never loads
// the window system for it.
void ShowWithMessageBox(const char* text, const char* caption)
{
    wchar_t wideText[kErrorTextCapacity + 4 * MAX_PATH];
    wchar_t wideCaption[64];
    auto wide = [](const char* from, wchar_t* to, int room) {
        if (MultiByteToWideChar(CP_UTF8, 0, from, -1, to, room) == 0)
            to[0] = L'\0';
    };
    wide(text, wideText, sizeof wideText / sizeof *wideText);
    wide(caption, wideCaption, sizeof wideCaption / sizeof *wideCaption);
    const auto box = LibraryFunction<int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT)>(L"user32.dll", "MessageBoxW");
    if (box != nullptr)
        box(nullptr, wideText, wideCaption, MB_OK);
}

// The executable's own code range: trace entries outside it (the platform's
// thread start-up, say) are not procedures of this program.
bool IsProgramAddress(const void* address)
{
    auto base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    auto p = static_cast<const uint8_t*>(address);
    return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
}

void WriteText(const char* text) { WriteErrorChars(text, static_cast<int32_t>(strlen(text))); }

void WriteHex8(const void* address)
{
    static const char kDigits[] = "0123456789ABCDEF";
    char text[8];
    auto value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    for (int i = 7; i >= 0; --i) {
        text[i] = kDigits[value & 15];
        value >>= 4;
    }
    WriteErrorChars(text, 8);
}

void WriteDecimal(uint32_t value)
{
    char text[10];
    int n = 0;
    do {
        text[9 - n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    WriteErrorChars(text + 10 - n, n);
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// The name the report's sentence gives the file: UTF-8, without the
// prefix \\?\ that only lifts the length limit. Empty when no file is known.
void DisplayName(const FileInUse& file, char* out, int size)
{
    static wchar_t converted[kLongPathCapacity];
    const wchar_t* name = file.wideName;
    out[0] = '\0';
    if (name == nullptr) {
        if (!WideOfAnsi(file.name, converted, kLongPathCapacity))
            return;
        name = converted;
    }
    if (wcsncmp(name, L"\\\\?\\", 4) == 0)
        name += 4;
    // The platform's call, not Utf8Of: the report is written when memory may be short, and this allocates nothing.
    if (WideCharToMultiByte(CP_UTF8, 0, name, -1, out, size, nullptr, nullptr) == 0)
        out[0] = '\0';
}

// True when the file was said not to be there for a name longer than its
// file system takes.
bool NotFoundForBeingTooLong(uint16_t code, const FileInUse& file)
{
    wchar_t name[MAX_PATH];
    const wchar_t* wide = file.wideName != nullptr ? file.wideName
                          : WideOfAnsi(file.name, name, MAX_PATH) ? name
                                                                  : nullptr;
    return ::NotFoundForBeingTooLong(code, wide);
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The report's last line: "duotint could not write C:\pics\cat-.bmp: its
// folder is read-only." A long path loses its middle, so that the report
// stays within one box; even after the deepest trace the fixed words fit.
void WriteFileSentence()
{
    static char name[3 * kLongPathCapacity];
    DisplayName(errorState.fileInUse, name, sizeof name);
    if (name[0] == '\0')
        return;
    const std::string whyText = WhyText(errorState.fileInUse.fault, errorState.exitCode);
    const char* why = whyText.c_str();
    const char* start = FileSentenceStart(errorState.fileInUse.writing != 0);
    // Left for the name once the words, ": ", ".", this line's end and the empty line are in.
    const int32_t room = kErrorTextCapacity - errorState.errorTextLength - errorState.errorOutput.count -
                         static_cast<int32_t>(strlen(start) + strlen(why)) - 7;
    const auto length = static_cast<int32_t>(strlen(name));
    WriteText(start);
    if (length <= room) {
        WriteText(name);
    } else {
        // A third of it for the start of the path, the rest for its end, cut between characters.
        const int32_t keep = room > 3 ? room - 3 : 0;
        int32_t head = keep / 3;
        int32_t tail = length - (keep - head);
        while (head > 0 && IsContinuationByte(name[head]))
            --head;
        while (tail < length && IsContinuationByte(name[tail]))
            ++tail;
        WriteErrorChars(name, head);
        WriteText("...");
        WriteText(name + tail);
    }
    WriteText(": ");
    WriteText(why);
    WriteText(".\r\n");
}

}  // namespace

void StartRuntimeSupport()
{
    UseExtendedPrecision();

    errorState.errorOutput.count = 0;
    errorState.errorTextLength = 0;
    errorState.errorText[0] = '\0';
    if (errorState.showBox == nullptr)
        errorState.showBox = ShowWithMessageBox;
}

__attribute__((noinline)) void CheckIo()
{
    if (errorState.pendingIoError == 0)
        return;
    uint16_t code = errorState.pendingIoError;
    errorState.pendingIoError = 0;
    if (NotFoundForBeingTooLong(code, errorState.fileInUse)) {
        code = ERROR_FILENAME_EXCED_RANGE;
        errorState.fileInUse.fault = FileFault::unknown;
    }

    // Frame 0 lies in CheckIo itself, frame 1 is where it returns into the
    // failing procedure, the rest are that procedure's callers going outward.
    void* frames[kMaxTraceDepth + 2];
    USHORT n = RtlCaptureStackBackTrace(0, kMaxTraceDepth + 2, frames, nullptr);
    errorState.traceCount = 0;
    for (USHORT i = 2; i < n && errorState.traceCount < kMaxTraceDepth; ++i) {
        if (IsProgramAddress(frames[i]))
            errorState.trace[errorState.traceCount++] = frames[i];
    }
    if (errorState.discardUnfinished != nullptr)
        errorState.discardUnfinished();
    RaiseRuntimeError(code, __builtin_return_address(0));
}

void RaiseRuntimeError(uint16_t code, const void* address)
{
    errorState.exitCode = code;
    errorState.errorAddress = address;
    Terminate();
}

void WriteReport()
{
    WriteText("Runtime error ");
    WriteDecimal(errorState.exitCode);
    WriteText(" at 0x");
    WriteHex8(errorState.errorAddress);
    WriteText("\r\n  0x");
    WriteHex8(errorState.errorAddress);
    WriteText("\r\n");
    for (int32_t i = 0; i < errorState.traceCount; ++i) {
        WriteText("  0x");
        WriteHex8(errorState.trace[i]);
        WriteText("\r\n");
    }
    WriteFileSentence();
    WriteText("\r\n");
}

void Terminate()
{
    if (errorState.errorAddress != nullptr)
        WriteReport();
    CloseErrorOutput();
    if (errorState.exitHook != nullptr)
        errorState.exitHook(errorState.exitCode);
    ExitProcess(errorState.exitCode);
}

void EndWithSentence(uint16_t code, const char* sentence)
{
    if (errorState.discardUnfinished != nullptr)
        errorState.discardUnfinished();
    errorState.showBox(sentence, "Error");
    errorState.exitCode = code;
    errorState.errorAddress = nullptr;
    Terminate();
}

void WriteErrorChars(const char* text, int32_t n)
{
    ErrorOutput& out = errorState.errorOutput;
    for (int32_t i = 0; i < n; ++i) {
        out.buffer[out.count++] = text[i];
        if (text[i] == '\n' || out.count == kErrorStreamCapacity)
            FlushErrorText(out.buffer, out.count);
    }
}

void CloseErrorOutput()
{
    FlushErrorText(errorState.errorOutput.buffer, errorState.errorOutput.count);
    if (errorState.errorTextLength > 0)
        ShowErrorText();
}

void FlushErrorText(const char* text, int32_t n)
{
    RuntimeErrorState& s = errorState;
    if (n > 0) {
        int32_t fit = kErrorTextCapacity - s.errorTextLength;
        if (n < fit)
            fit = n;
        memcpy(s.errorText + s.errorTextLength, text, static_cast<size_t>(fit));
        s.errorTextLength += fit;
        s.errorText[s.errorTextLength] = '\0';
    }
    const char* end = s.errorText + s.errorTextLength;
    if (s.errorTextLength == kErrorTextCapacity ||
        (s.errorTextLength > 3 && IsLineBreak(end[-1]) && IsLineBreak(end[-2]) && IsLineBreak(end[-3])))
        ShowErrorText();
    s.errorOutput.count = 0;
}

void ShowErrorText()
{
    if (errorState.showBox == nullptr)
        errorState.showBox = ShowWithMessageBox;
    errorState.showBox(errorState.errorText, "Error");
    errorState.errorTextLength = 0;
    errorState.errorText[0] = '\0';
}
