// Planning duotint-cli's run: every picture the command line names, in
// order, with its output, and the refusals that need no picture read. Codes
// are the platform's numbers for the same trouble, as the editor's are.
#include "cli/plan.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

#include "cli/picture_kinds.h"
#include "read/metadata_file.h"
#include "support/failure.h"
#include "support/file_io.h"  // MapPlatformError
#include "support/picture_names.h"
#include "support/utf8.h"

namespace {

bool EndsWithSeparator(const std::wstring& path)
{
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/' || path.back() == L':');
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name)
{
    return EndsWithSeparator(folder) ? folder + name : folder + L"\\" + name;
}

// Upper or lower case as the file system's names have it, whatever the
// user's language (and without the window system's case functions).
std::wstring Cased(const std::wstring& text, DWORD how)
{
    std::wstring cased(text.size(), L'\0');
    if (!text.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, how, text.data(), static_cast<int>(text.size()), &cased[0],
                      static_cast<int>(cased.size()), nullptr, nullptr, 0);
    return cased;
}

bool ByName(const std::wstring& a, const std::wstring& b)
{
    const int order = CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE);
    return order == CSTR_EQUAL ? a < b : order == CSTR_LESS_THAN;
}

// What a folder holds, each list sorted by name; `error`, the platform's,
// when the folder could not be listed.
struct FolderList {
    std::vector<std::wstring> files, folders;
    DWORD error = ERROR_SUCCESS;
};

FolderList ListFolder(const std::wstring& folder)
{
    FolderList list;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(Joined(folder, L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        // Every folder lists at least "." and ".."; none found is a failure too.
        list.error = GetLastError();
        if (list.error == ERROR_SUCCESS || list.error == ERROR_FILE_NOT_FOUND || list.error == ERROR_NO_MORE_FILES)
            list.error = ERROR_ACCESS_DENIED;
        return list;
    }
    do {
        const std::wstring name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            list.files.push_back(name);
        else if (name != L"." && name != L"..")
            list.folders.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(list.files.begin(), list.files.end(), ByName);
    std::sort(list.folders.begin(), list.folders.end(), ByName);
    return list;
}

std::wstring StemOf(const std::wstring& name)
{
    const std::wstring lower = Cased(name, LCMAP_LOWERCASE);
    return lower.substr(0, lower.size() - ExtensionOf(lower).size());
}

// An earlier run's outputs beside their pictures are not pictures of this
// one: "cat-.bmp" is left out where "cat.png" stands too, so that a folder
// can be run again. A picture whose name merely ends in "-" stays. The
// picture it is the output of, by the stems of the folder's pictures (each
// the first name with it); null when it is none's.
const std::wstring* EarlierOutputOf(const std::wstring& name, const std::map<std::wstring, std::wstring>& stems)
{
    const std::wstring stem = StemOf(name);
    if (stem.size() < 2 || stem.back() != L'-')
        return nullptr;
    const auto picture = stems.find(stem.substr(0, stem.size() - 1));
    return picture != stems.end() ? &picture->second : nullptr;
}

// The separator a typed path uses: '/' when it has one, then '\\'.
char SeparatorOf(const std::string& typed, char otherwise)
{
    return typed.find('/') != std::string::npos ? '/' : typed.find('\\') != std::string::npos ? '\\' : otherwise;
}

std::string ShownJoined(const std::string& folder, const std::string& name, char separator)
{
    const bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/' || folder.back() == ':');
    return ends ? folder + name : folder + separator + name;
}

// The shown name with its last part replaced.
std::string ShownBeside(const std::string& shown, const std::string& name)
{
    const size_t separator = shown.find_last_of("\\/:");
    return separator == std::string::npos ? name : shown.substr(0, separator + 1) + name;
}

void MarkRefused(PlannedPicture& picture, DWORD code, const std::string& sentence)
{
    picture.refusedCode = static_cast<uint16_t>(code);
    picture.refusal = sentence;
}

// One PATH's walk, and what the whole run's walks share.
struct Walk {
    Walk(const CliOptions& o, std::vector<PlannedPicture>& p, const std::wstring& out)
        : options(o), plan(p), outFolder(out), outIdentity(out.empty() ? L"" : FileIdentity(out))
    {
    }
    const CliOptions& options;
    std::vector<PlannedPicture>& plan;
    const std::wstring outFolder;    // full; empty: beside each picture
    const std::wstring outIdentity;  // the output folder's, never walked into
    char separator = '\\';           // the PATH's, for the names found in it
    size_t found = 0;                // pictures found under the PATH
    // Each folder entered from the PATH by its identity, with its shown
    // name; and those on the way from the PATH to the folder being listed.
    std::map<std::wstring, std::string> entered;
    std::vector<std::wstring> way;
};

// A picture and its output: beside it, or in the output folder under the
// folders `under` ("100CANON\\") it was found in below its PATH.
void AddPicture(Walk& walk, const std::wstring& input, const std::string& shown, const std::wstring& under = L"",
                DWORD attributes = INVALID_FILE_ATTRIBUTES)
{
    PlannedPicture picture;
    picture.input = input;
    picture.inputName = shown;
    const PictureFileFault fault = PictureFileFaultOf(input, attributes);
    picture.inputIdentity = fault.identity;
    if (fault.code != 0)
        MarkRefused(picture, fault.code,
               "duotint-cli cannot open " + shown + ": " + fault.why +
                   (fault.code == ERROR_FILE_NOT_FOUND ? WhereNotFound(shown) : std::string()) + ".");
    const std::wstring beside = ExportPathFor(input, OutputSuffix(walk.options.format));
    const std::wstring name(LastPathPart(beside));
    if (walk.outFolder.empty()) {
        picture.output = FullPath(beside.c_str());
        picture.outputName = ShownBeside(shown, Utf8Of(name));
    } else {
        picture.output = FullPath(Joined(walk.outFolder, under + name).c_str());
        const std::string typed = Utf8Of(walk.options.outFolder);
        const char separator = SeparatorOf(typed, walk.separator);
        std::string shownUnder = Utf8Of(under);
        std::replace(shownUnder.begin(), shownUnder.end(), '\\', separator);
        picture.outputName = ShownJoined(typed, shownUnder + Utf8Of(name), separator);
    }
    walk.plan.push_back(picture);
}

// An entry that is no picture: a line for standard output or standard error.
void AddLine(Walk& walk, const std::wstring& input, const std::string& shown, std::string skipped, std::string note)
{
    PlannedPicture line;
    line.input = input;
    line.inputName = shown;
    line.skipped = std::move(skipped);
    line.note = std::move(note);
    walk.plan.push_back(line);
}

// The pictures directly inside a folder, the files of picture kinds nothing
// here reads, then its subfolders: entered with --recursive, else counted.
// A folder that cannot be listed is a failure of the run, not a folder
// without pictures: false, with the failure in the plan.
bool AddFolder(Walk& walk, const std::wstring& folder, const std::string& shown, const std::wstring& under)
{
    const FolderList list = ListFolder(folder);
    if (list.error != ERROR_SUCCESS) {
        PlannedPicture unread;
        unread.input = folder;
        unread.inputName = shown;
        const DWORD code = MapPlatformError(list.error);
        MarkRefused(unread, code,
               "duotint-cli cannot read the folder " + shown + ": " +
                   (code == ERROR_ACCESS_DENIED ? std::string("it may not be read")
                                                : "the system reported error " + std::to_string(code)) +
                   "; its pictures are not done.");
        walk.plan.push_back(unread);
        return false;
    }
    const std::vector<std::wstring>& decoded = DecodedExtensions();
    std::map<std::wstring, std::wstring> stems;
    for (const std::wstring& name : list.files)
        if (IsExtensionIn(ExtensionOf(name), decoded))
            stems.emplace(StemOf(name), name);
    for (const std::wstring& name : list.files) {
        const std::wstring_view extension = ExtensionOf(name);
        const std::string shownName = ShownJoined(shown, Utf8Of(name), walk.separator);
        const std::wstring* earlier = IsExtensionIn(extension, decoded) ? EarlierOutputOf(name, stems) : nullptr;
        if (earlier != nullptr) {
            // Named, so that a picture that merely looks like an output is
            // never passed over unseen.
            AddLine(walk, Joined(folder, name), shownName,
                    "left out: " + shownName + ", an earlier output of " +
                        ShownJoined(shown, Utf8Of(*earlier), walk.separator),
                    "");
            walk.plan.back().leftOut = true;
        } else if (IsExtensionIn(extension, decoded)) {
            AddPicture(walk, Joined(folder, name), shownName, under);
            ++walk.found;
        } else if (IsExtensionIn(extension, PictureLikeExtensions())) {
            AddLine(walk, Joined(folder, name), shownName,
                    "skipped: " + shownName + ": no decoder on this machine for " +
                        Utf8Of(Cased(std::wstring(extension), LCMAP_LOWERCASE)),
                    "");
        } else if (const size_t end = name.find_last_not_of(L". "); end + 1 < name.size() && end != std::wstring::npos &&
                                                                    IsExtensionIn(ExtensionOf(name.substr(0, end + 1)), decoded)) {
            // The platform drops a name's last dots and spaces when it opens
            // it, so "a.png." would be read as "a.png", another file or none.
            AddLine(walk, Joined(folder, name), shownName,
                    "skipped: " + shownName + ": its name ends in a dot or a space, which the platform cannot open", "");
        }
    }
    std::vector<std::pair<std::wstring, std::wstring>> subfolders;  // name, identity
    for (const std::wstring& name : list.folders) {
        std::wstring identity = FileIdentity(Joined(folder, name));
        if (identity != walk.outIdentity)
            subfolders.emplace_back(name, std::move(identity));
    }
    if (!walk.options.recursive) {
        const size_t n = subfolders.size();
        if (n > 0) {
            AddLine(walk, folder, shown, "",
                    shown + ": " + std::to_string(n) + (n == 1 ? " subfolder" : " subfolders") +
                        " not entered; -r enters " + (n == 1 ? "it" : "them"));
        }
        return true;
    }
    for (const auto& [name, identity] : subfolders) {
        const std::wstring full = Joined(folder, name);
        const std::string shownName = ShownJoined(shown, Utf8Of(name), walk.separator);
        const auto earlier = walk.entered.find(identity);
        if (earlier != walk.entered.end()) {
            // A link to a folder of the walk: a loop when it leads back up.
            const bool back = std::find(walk.way.begin(), walk.way.end(), identity) != walk.way.end();
            AddLine(walk, full, shownName, "",
                    shownName + ": not entered; " + (back ? "it leads back to " : "it is ") + earlier->second +
                        (back ? "" : ", entered already"));
            continue;
        }
        walk.entered.emplace(identity, shownName);
        walk.way.push_back(identity);
        AddFolder(walk, full, shownName, under + name + L"\\");
        walk.way.pop_back();
    }
    return true;
}

// Every picture of one PATH, as a file or a folder.
void AddPath(Walk& walk, const std::wstring& path)
{
    const std::wstring full = FullPath(path.c_str());
    const std::string shown = Utf8Of(path);
    walk.separator = SeparatorOf(shown, '\\');
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        IsDeviceName(LastPathPart(full))) {
        AddPicture(walk, full, shown, L"", attributes);
        return;
    }
    const size_t start = walk.plan.size();
    const std::wstring identity = FileIdentity(full);
    walk.found = 0;
    walk.entered = {{identity, shown}};
    walk.way = {identity};
    if (AddFolder(walk, full, shown, L"") && walk.found == 0) {
        // Before the lines on the folder, which may say the way out.
        PlannedPicture none;
        none.input = full;
        none.inputName = shown;
        MarkRefused(none, ERROR_FILE_NOT_FOUND, "duotint-cli finds no pictures in " + shown + ".");
        walk.plan.insert(walk.plan.begin() + static_cast<ptrdiff_t>(start), none);
    }
}

// The output folder as a full path; false with a code and a sentence when
// it is no folder, or when only its last part is missing and it cannot be
// made. Such a folder is made here only to see that it can be, and removed
// at once: the run makes it again with its first picture.
bool TakeOutFolder(const std::wstring& given, std::wstring& folder, uint16_t& code, std::string& sentence)
{
    folder = FullPath(given.c_str());
    const std::string shown = Utf8Of(given);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    const char* why = nullptr;
    if (IsDeviceName(LastPathPart(folder))) {
        code = ERROR_ACCESS_DENIED;
        why = "it names a device, not a folder";
    } else if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return true;
        code = ERROR_ACCESS_DENIED;
        why = "it is a file, not a folder";
    } else if (CreateDirectoryW(folder.c_str(), nullptr)) {
        RemoveDirectoryW(folder.c_str());
        return true;
    } else {
        const DWORD e = GetLastError();
        code = MapPlatformError(e);
        if (e == ERROR_ALREADY_EXISTS) {
            // Under Wine a device file or a FIFO has no attributes, yet takes the name.
            code = ERROR_ACCESS_DENIED;
            why = "it is a device or a pipe, not a folder";
        } else if (HasNameTooLong(folder)) {
            code = ERROR_FILENAME_EXCED_RANGE;
            why = WhyClause(FileFault::unknown, ERROR_FILENAME_EXCED_RANGE);
        } else if (e == ERROR_PATH_NOT_FOUND || e == ERROR_FILE_NOT_FOUND) {
            code = ERROR_PATH_NOT_FOUND;
            why = "the folder it would go in does not exist";
        } else if (e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT) {
            code = ERROR_ACCESS_DENIED;
            why = "the folder it would go in takes no new folder";
        } else {
            why = "the platform would not make it";
        }
    }
    sentence = "duotint-cli cannot write into " + shown + ": " + why + ".";
    return false;
}

bool IsOlder(const std::wstring& path, const std::wstring& than)
{
    WIN32_FILE_ATTRIBUTE_DATA a, b;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a) &&
           GetFileAttributesExW(than.c_str(), GetFileExInfoStandard, &b) &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) < 0;
}

// Refuses an output that must not be written, and skips one that exists;
// `record` is what this run's outputs record.
void PlanOutput(PlannedPicture& picture, const CliOptions& options, const std::string& record,
                const std::set<std::wstring>& inputs, std::map<std::wstring, const PlannedPicture*>& outputs)
{
    const std::string& shown = picture.outputName;
    const std::string skips = "duotint-cli skips " + picture.inputName + ": ";

    NameRoom room;
    const ExportNameFault fault = ExportNameFaultOf(picture.output, room);
    if (fault == ExportNameFault::tooLong) {
        MarkRefused(picture, ERROR_FILENAME_EXCED_RANGE,
               skips + "its output " + shown + " would have a name longer than " + NameRoomText(room) +
                   ", which the file system does not allow.");
        return;
    }
    if (fault == ExportNameFault::device)
        return MarkRefused(picture, ERROR_ACCESS_DENIED, skips + "its output " + shown + " would name a device.");
    const std::wstring key = FileIdentity(picture.output);
    // Never a picture's own file, nor any other picture of the run, however
    // the path to it is spelled.
    if (inputs.count(key) > 0)
        return MarkRefused(picture, ERROR_ALREADY_EXISTS, skips + "its output " + shown + " is a picture of this run.");
    const auto earlier = outputs.find(key);
    if (earlier != outputs.end()) {
        return MarkRefused(picture, ERROR_ALREADY_EXISTS,
                      skips + earlier->second->inputName + " writes the same output " + shown + ".");
    }
    const DWORD attributes = GetFileAttributesW(picture.output.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return MarkRefused(picture, ERROR_ACCESS_DENIED, skips + "a folder has the name of its output " + shown + ".");
    // Taken even when skipped, so that a second picture for it is refused
    // on every run, not only on the first.
    outputs.emplace(key, &picture);
    if (attributes == INVALID_FILE_ATTRIBUTES || options.force)
        return;
    // The output is untrusted as any picture is: its record is only compared.
    const std::string recorded =
        options.update && !record.empty() ? ReadLookRecordAt(picture.output.c_str()) : std::string();
    if (!options.update)
        picture.skipped = "skipped: " + shown + " exists";
    else if (IsOlder(picture.output, picture.input))
        picture.redo = "redo: " + shown + " is older than its picture";
    else if (!recorded.empty() && recorded != record)
        picture.redo = "redo: " + shown + " was made with another look: " + recorded;
    else
        picture.skipped = "skipped: " + shown + " is up to date (" +
                          (recorded.empty() ? "newer than its picture; it records no look" : "made with this look") + ")";
    picture.kept = !picture.skipped.empty();
}

// Refuses a picture whose output's folder cannot be made under the output
// folder because a file stands where it, or a folder above it, would go.
// The folders themselves are made by the run as their first picture is
// written, so that a folder whose pictures all fail is never left behind.
void CheckOutputFolder(PlannedPicture& picture, const std::wstring& outFolder)
{
    for (std::wstring folder = picture.output; folder.size() > outFolder.size();) {
        folder.resize(folder.size() - LastPathPart(folder).size() - 1);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return;
        std::string shown = ShownBeside(picture.outputName, "");
        if (!shown.empty() && (shown.back() == '\\' || shown.back() == '/'))
            shown.pop_back();
        return MarkRefused(picture, ERROR_ACCESS_DENIED,
                      "duotint-cli skips " + picture.inputName + ": a file stands in the way of the folder " + shown + ".");
    }
}

}  // namespace

std::string OutputLookRecord(const CliOptions& options)
{
    return LookRecord(options.look, options.format, options.quality, options.chroma, options.pngLevel, options.Strip());
}

bool PlanPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, uint16_t& code,
                  std::string& sentence)
{
    plan.clear();
    std::wstring outFolder;
    if (!options.outFolder.empty() && !TakeOutFolder(options.outFolder, outFolder, code, sentence))
        return false;
    Walk walk(options, plan, outFolder);
    for (const std::wstring& path : options.paths)
        AddPath(walk, path);

    std::set<std::wstring> inputs;
    for (PlannedPicture& picture : plan) {
        const std::wstring identity =
            !picture.ToTint() || !picture.inputIdentity.empty() ? picture.inputIdentity : FileIdentity(picture.input);
        if (picture.ToTint() && !inputs.insert(identity).second)
            MarkRefused(picture, ERROR_ALREADY_EXISTS, "duotint-cli skips " + picture.inputName + ": it is named twice.");
    }
    std::map<std::wstring, const PlannedPicture*> outputs;
    const std::string record = OutputLookRecord(options);
    for (PlannedPicture& picture : plan) {
        if (picture.ToTint())
            PlanOutput(picture, options, record, inputs, outputs);
    }
    for (PlannedPicture& picture : plan) {
        if (picture.ToTint() && !outFolder.empty())
            CheckOutputFolder(picture, outFolder);
    }
    return true;
}
