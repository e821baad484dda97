// The run of duotint-cli: its pictures side by side, one worker thread per
// core, each reading, tinting and writing a picture at a time through the
// picture library (the same read path, the same export, the same sentences
// as the editor). A failure ends only its picture. Each worker keeps a
// decoding process of its own for its pictures, and the block its exports
// write through.
//
// Memory stays within a budget, half the physical memory by default: a
// picture starts only when what the pictures under way may take, and its
// own share, fit in it. One larger than the budget waits until nothing else
// runs, then runs alone.
#include "cli/run.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "cli/picture_kinds.h"
#include "export/write.h"
#include "options/settings.h"
#include "read/read.h"
#include "support/failure.h"
#include "support/file_io.h"
#include "support/picture_names.h"
#include "support/system.h"
#include "support/threads.h"

namespace {

// What a worker keeps from one picture to the next.
struct Worker {
    DecoderProcess decoder;
    WriteScratch scratch;
};

// duotint-cli's own sentence for a failure: it begins with the program's
// name, where the library's sentences begin with "duotint" or with the
// file's, and names the files as the command line does.
std::string CliSentence(const Failure& failure, const PlannedPicture& picture)
{
    std::string sentence = failure.sentence;
    if (!failure.file.empty()) {
        const std::string name = failure.file == picture.input    ? picture.inputName
                                 : failure.file == picture.output ? picture.outputName
                                                                  : ShownPath(failure.file);
        sentence = FileSentence(failure, name);
    }
    if (sentence.compare(0, 8, "duotint ") == 0)
        return "duotint-cli " + sentence.substr(8);
    return "duotint-cli: " + sentence;
}

// The folder a path is in, without its last separator.
std::wstring ParentOf(const std::wstring& path) { return path.substr(0, path.size() - LastPathPart(path).size() - 1); }

// The folders the outputs go in under --out, made as the first picture of
// each is about to be written, not when the run is planned: a folder whose
// pictures all fail is not left behind. One the run made goes again, and so
// do those it made above it, when a picture leaves it empty and no other
// picture is on its way into it.
class OutputFolders {
public:
    // Makes the folder the picture's output goes in, and those above it,
    // where they are missing.
    Failure Enter(const PlannedPicture& picture)
    {
        const std::wstring folder = ParentOf(picture.output);
        std::lock_guard<std::mutex> held(lock_);
        const DWORD e = Make(folder);
        if (e == ERROR_SUCCESS) {
            ++entering_[folder];
            return Failure();
        }
        std::string shown = picture.outputName.substr(0, picture.outputName.find_last_of("\\/:") + 1);
        if (!shown.empty() && shown.back() != ':')
            shown.pop_back();
        const std::string skips = "duotint skips " + picture.inputName + ": ";
        if (e == ERROR_ALREADY_EXISTS)
            return Refusal(ERROR_ACCESS_DENIED, skips + "a file stands in the way of the folder " + shown + ".");
        return Refusal(MapPlatformError(e), skips + "the folder " + shown + " cannot be made.");
    }
    // The picture that entered its folder is written or failed.
    void Leave(const PlannedPicture& picture)
    {
        std::wstring folder = ParentOf(picture.output);
        std::lock_guard<std::mutex> held(lock_);
        --entering_[folder];
        // An empty folder only: one with an output or a folder in it stays.
        while (made_.count(folder) != 0 && entering_[folder] == 0 && RemoveDirectoryW(folder.c_str())) {
            made_.erase(folder);
            folder = ParentOf(folder);
        }
    }

private:
    DWORD Make(const std::wstring& folder)
    {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return attributes & FILE_ATTRIBUTE_DIRECTORY ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
        const std::wstring parent = ParentOf(folder);
        if (!parent.empty() && parent.size() + 1 < folder.size() && parent.back() != L'\\' && parent.back() != L':')
            if (const DWORD e = Make(parent))
                return e;
        if (CreateDirectoryW(folder.c_str(), nullptr))
            made_.insert(folder);
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            return GetLastError();
        return ERROR_SUCCESS;
    }

    std::mutex lock_;
    std::map<std::wstring, size_t> entering_;  // pictures that entered each folder and are not done
    std::set<std::wstring> made_;              // folders this run made and has not removed
};

// How a picture went: written, or failed with an exit code and a sentence.
struct PictureOutcome {
    uint16_t code = 0;
    std::string sentence;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<std::string> notes;  // what of its metadata was left out
};

// Reads, tints and writes one picture; into the folders of `folders`, when given.
PictureOutcome TintOnePicture(const PlannedPicture& picture, const CliOptions& options, uint32_t cores,
                              Worker& worker, const std::function<void(const ProbeResult&)>& admit,
                              OutputFolders* folders)
{
    PictureRequest request;
    request.onSized = admit;
    request.path = picture.input;
    request.name = picture.inputName;
    request.cores = cores;
    // A fault in a view under a reader not ours could not end only this picture.
    request.intoMemory = true;
    // Only an output that holds transparency takes it; the others take flattened pixels.
    request.keepAlpha = KeepsAlpha(options.format);
    // The export starts on the first rows while the rest are decoded.
    request.rowsAsTheyCome = true;
    ExportSettings settings = LookExportSettings(options.look, options.format, options.quality, options.chroma,
                                                 options.pngLevel, options.Strip());
    settings.threads = {cores, &worker.scratch};
    bool entered = false;
    if (folders != nullptr) {
        settings.onBegin = [&] {
            Failure failure = folders->Enter(picture);
            entered = !failure;
            return failure;
        };
    }

    PictureOutcome outcome;
    Failure failure;
    try {
        PictureHeader header;
        failure = ReadPictureHeader(request, worker.decoder, header);
        if (!failure) {
            outcome.width = header.width;
            outcome.height = header.height;
            auto target = NewFileRecord();
            BindFileW(*target, picture.output.c_str());
            failure = ExportPicture(request, header, worker.decoder, options.look, settings, *target, outcome.notes);
        }
    } catch (const std::bad_alloc&) {
        if (entered)
            folders->Leave(picture);
        outcome.code = kErrorOutOfMemory;
        outcome.sentence = "duotint-cli could not get the memory for " + picture.inputName +
                           "; close other programs or use fewer --jobs, and try again.";
        return outcome;
    }
    if (entered)
        folders->Leave(picture);
    if (failure) {
        outcome.code = failure.code;
        outcome.sentence = CliSentence(failure, picture);
    }
    return outcome;
}

// What a picture may take while it is under way: its pixels (with an alpha
// plane, where one may come), and for a kind the platform decodes, the
// decoding process's budget besides.
uint64_t MemoryShare(const ProbeResult& probe, bool keepAlpha)
{
    if (probe.width <= 0 || probe.height <= 0)
        return 256ull << 20;
    const int64_t alphaRow = keepAlpha && probe.kind != ContainerKind::jpeg ? AlphaRowBytes(probe.width) : 0;
    const uint64_t pixels =
        static_cast<uint64_t>(RowBytes(probe.width) + alphaRow) * static_cast<uint64_t>(probe.height);
    return probe.kind == ContainerKind::bmp ? pixels : 3 * pixels + (256ull << 20);
}

// The pictures waiting, which the workers take in order, and what those
// under way may take of the memory budget; every outcome is reported here,
// one at a time.
class Schedule {
public:
    Schedule(const std::vector<PlannedPicture>& plan, Reporter& reporter) : reporter_(reporter)
    {
        MEMORYSTATUSEX memory = {};
        memory.dwLength = sizeof memory;
        GlobalMemoryStatusEx(&memory);
        budget_ = memory.ullTotalPhys / 2;
        codes_.resize(plan.size());
        for (size_t i = 0; i < plan.size(); ++i) {
            codes_[i] = plan[i].refusedCode;
            if (plan[i].ToTint())
                waiting_.push_back(i);
        }
        started_ = GetTickCount();
    }

    const std::vector<size_t>& Waiting() const { return waiting_; }

    // The next picture no worker has taken; false when none is left.
    bool Take(size_t& index)
    {
        std::lock_guard<std::mutex> held(lock_);
        if (next_ == waiting_.size())
            return false;
        index = waiting_[next_++];
        return true;
    }

    // Waits until a picture of this share fits beside those under way; with
    // nothing under way, it goes on whatever its share.
    void Admit(uint64_t share)
    {
        std::unique_lock<std::mutex> held(lock_);
        changed_.wait(held, [&] { return running_ == 0 || inUse_ + share <= budget_; });
        inUse_ += share;
        ++running_;
    }

    // Reports a picture's outcome, and gives back the share it was admitted
    // with (none when it ended before it was admitted).
    void Finish(size_t index, const PlannedPicture& picture, const PictureOutcome& outcome, DWORD took,
                const uint64_t* share)
    {
        std::lock_guard<std::mutex> held(lock_);
        if (outcome.code == 0) {
            for (const std::string& note : outcome.notes)
                reporter_.Note("note: " + picture.inputName + ": " + note);
            reporter_.Done(picture, outcome.width, outcome.height, took);
            bytesDone_ += 3ull * outcome.width * outcome.height;
        } else {
            reporter_.Failed(picture, outcome.code, outcome.sentence);
            codes_[index] = outcome.code;
        }
        if (share != nullptr) {
            inUse_ -= *share;
            --running_;
        }
        ++done_;
        reporter_.Progress(done_, waiting_.size(), bytesDone_, (GetTickCount() - started_) / 1000.0);
        changed_.notify_all();
    }

    // The code of the first picture, in the command line's order, that
    // failed; 0 when none did.
    int FirstFailure() const
    {
        for (uint16_t code : codes_)
            if (code != 0)
                return code;
        return 0;
    }

private:
    Reporter& reporter_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<size_t> waiting_;  // indexes into the plan, in order
    size_t next_ = 0;              // the first of them no worker has taken
    uint64_t budget_ = 0;
    uint64_t inUse_ = 0;
    size_t running_ = 0;
    size_t done_ = 0;
    uint64_t bytesDone_ = 0;
    DWORD started_ = 0;
    std::vector<uint16_t> codes_;  // each picture's exit code, 0 once written
};

// Each worker holds a decoding process and a picture: past twice the cores
// more of them only wait for a core, and take memory and processes while
// they wait.
size_t WorkersFor(int jobs, size_t pictures)
{
    const size_t most = 2 * size_t{CoresToUse(0)};
    const size_t workers = jobs > 0 ? std::min(static_cast<size_t>(jobs), most) : CoresToUse(0);
    return std::max<size_t>(1, std::min(workers, pictures));
}

}  // namespace

int RunPlannedPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, Reporter& reporter)
{
    Schedule schedule(plan, reporter);
    // This thread is the first worker. Its decoding process starts here,
    // where a picture may need one, and readies the platform's decoders
    // while the first picture is read.
    Worker first;
    const std::vector<size_t>& waiting = schedule.Waiting();
    if (std::any_of(waiting.begin(), waiting.end(), [&](size_t i) {
            return !IsExtensionIn(ExtensionOf(plan[i].input), {L".bmp", L".dib"});
        }))
        first.decoder.Start();
    const size_t workers = WorkersFor(options.jobs, waiting.size());
    // Each worker's export spreads its tint over the worker's share of the
    // cores: all of them for a worker alone, none besides its own for one of
    // as many workers as cores.
    const uint32_t cores = std::max<uint32_t>(1, CoresToUse(0) / workers);

    const bool keepAlpha = KeepsAlpha(options.format);
    OutputFolders folders;
    auto work = [&](Worker& worker) {
        UseExtendedPrecision();  // the tint's arithmetic, on this thread
        size_t index;
        while (schedule.Take(index)) {
            // Its file is opened and probed once, by the read, which waits
            // here to be admitted before the picture takes any memory.
            uint64_t share = 0;
            bool admitted = false;
            auto admit = [&](const ProbeResult& probe) {
                share = MemoryShare(probe, keepAlpha);
                schedule.Admit(share);
                admitted = true;
            };
            const PlannedPicture& picture = plan[index];
            const DWORD t0 = GetTickCount();
            const PictureOutcome outcome =
                TintOnePicture(picture, options, cores, worker, admit, options.outFolder.empty() ? nullptr : &folders);
            schedule.Finish(index, picture, outcome, GetTickCount() - t0, admitted ? &share : nullptr);
        }
    };
    // A worker that cannot be had leaves its pictures to the others.
    auto another = [&] {
        Worker worker;
        work(worker);
    };
    ThreadGroup threads;
    for (size_t i = 1; i < workers; ++i)
        if (!threads.StartWork(another))
            break;
    work(first);
    threads.Join();
    return schedule.FirstFailure();
}
