// Printing duotint-cli's lines. Text is UTF-8; a console is given it as
// UTF-16, so that any name shows as it is, whatever the console's code page.
#include "cli/report.h"

#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdio>

#include "cli/options.h"

namespace {

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

HANDLE HandleOf(FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

}  // namespace

Reporter::Reporter(bool quiet)
    : Reporter(quiet, stdout, stderr, IsConsole(GetStdHandle(STD_ERROR_HANDLE)))
{
}

Reporter::Reporter(bool quiet, FILE* out, FILE* err, bool errIsConsole)
    : quiet_(quiet), out_(out), err_(err), progressShown_(errIsConsole && !quiet)
{
}

void Reporter::Write(FILE* stream, const std::string& text)
{
    const HANDLE handle = HandleOf(stream);
    if (IsConsole(handle)) {
        fflush(stream);
        const std::wstring wide = WideOf(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    fwrite(text.data(), 1, text.size(), stream);
    fflush(stream);
}

void Reporter::ClearProgress()
{
    if (progressWidth_ == 0)
        return;
    Write(err_, "\r" + std::string(progressWidth_, ' ') + "\r");
    progressWidth_ = 0;
}

void Reporter::Done(const PlannedPicture& picture, int width, int height, double ms)
{
    std::lock_guard<std::mutex> hold(mutex_);
    ++written_;
    if (quiet_)
        return;
    char figures[96];
    snprintf(figures, sizeof figures, "  %d x %d  %.0f ms\n", width, height, ms);
    ClearProgress();
    Write(out_, picture.inputName + " -> " + picture.outputName + figures);
}

void Reporter::Skipped(const std::string& line)
{
    if (quiet_)
        return;
    std::lock_guard<std::mutex> hold(mutex_);
    ClearProgress();
    Write(out_, line + "\n");
}

void Reporter::Note(const std::string& line) { Error(line); }

void Reporter::Failed(const PlannedPicture& picture, uint16_t code, const std::string& sentence)
{
    {
        // A folder that could not be read is a failure too, but no picture.
        std::lock_guard<std::mutex> hold(mutex_);
        if (!picture.output.empty())
            ++failed_;
    }
    Error(sentence);
}

void Reporter::Error(const std::string& sentence)
{
    std::lock_guard<std::mutex> hold(mutex_);
    ClearProgress();
    Write(err_, sentence + "\n");
}

void Reporter::Progress(uint32_t done, uint32_t total, uint64_t bytesDone, double elapsedSeconds)
{
    if (!progressShown_)
        return;
    std::lock_guard<std::mutex> hold(mutex_);
    if (done < total && lastDrawn_ >= 0 && elapsedSeconds - lastDrawn_ < 0.1)
        return;
    lastDrawn_ = elapsedSeconds;
    char line[160];
    int n = snprintf(line, sizeof line, "%u of %u pictures", done, total);
    if (elapsedSeconds > 0)
        n += snprintf(line + n, sizeof line - n, "  %.1f MB/s", static_cast<double>(bytesDone) / 1e6 / elapsedSeconds);
    if (done > 0 && done < total) {
        const long left = static_cast<long>(elapsedSeconds / done * (total - done) + 0.5);
        n += snprintf(line + n, sizeof line - n, "  %ld:%02ld left", left / 60, left % 60);
    }
    // Spaces wipe what a longer line before left on screen.
    const size_t width = static_cast<size_t>(n);
    std::string text = "\r" + std::string(line) + std::string(progressWidth_ > width ? progressWidth_ - width : 0, ' ');
    Write(err_, text);
    progressWidth_ = std::max(progressWidth_, width);
}

void Reporter::Finish()
{
    std::lock_guard<std::mutex> hold(mutex_);
    ClearProgress();
}

void Reporter::Summary(uint32_t kept, uint32_t redone, uint32_t leftOut, bool update)
{
    if (quiet_ || kept + redone + leftOut == 0)
        return;
    std::lock_guard<std::mutex> hold(mutex_);
    const uint32_t total = written_ + failed_ + kept + leftOut;
    std::string line = std::to_string(total) + (total == 1 ? " picture: " : " pictures: ") + std::to_string(written_) +
                       " written";
    if (failed_ > 0)
        line += ", " + std::to_string(failed_) + " failed";
    // A BMP output records no look, and --update goes by its time alone:
    // the line says what writes such an output again.
    if (kept + redone > 0)
        line += update ? ", " + std::to_string(kept) + " up to date (newer than their picture and, where recorded, made "
                                                       "with this look; --force writes them again)"
                       : ", " + std::to_string(kept) + " left as they exist (--update replaces those older than their "
                                                       "picture or made with another look, --force all of them)";
    if (leftOut > 0)
        line += ", " + std::to_string(leftOut) + " left out";
    ClearProgress();
    Write(out_, line + "\n");
}
