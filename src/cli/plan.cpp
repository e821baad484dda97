// Planning duotint-cli's run: every picture the command line names, in
// order, with its output, and the refusals that need no picture read. Codes
// are the platform's numbers for the same trouble, as the editor's are.
#include "cli/plan.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

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

bool IsPictureName(std::wstring_view name)
{
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos)
        return false;
    const std::wstring_view extension = name.substr(dot);
    for (const char* known : kPictureExtensions) {
        const std::wstring wide(known, known + strlen(known));
        if (CompareStringOrdinal(extension.data(), static_cast<int>(extension.size()), wide.c_str(), -1, TRUE) ==
            CSTR_EQUAL)
            return true;
    }
    return false;
}

bool ByName(const std::wstring& a, const std::wstring& b)
{
    const int order = CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE);
    return order == CSTR_EQUAL ? a < b : order == CSTR_LESS_THAN;
}

// The files directly inside a folder whose extensions the name popup tries, sorted by name.
std::vector<std::wstring> PicturesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(Joined(folder, L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsPictureName(found.cFileName))
            names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    // An earlier run's outputs beside their pictures are not pictures of
    // this one: "cat-.bmp" is left out where "cat.png" stands too, so that a
    // folder can be run again. A picture whose name merely ends in "-" stays.
    auto stemOf = [](std::wstring name) {
        name = Cased(name, LCMAP_LOWERCASE);
        const size_t dot = name.rfind(L'.');
        return dot == std::wstring::npos ? name : name.substr(0, dot);
    };
    std::set<std::wstring> stems;
    for (const std::wstring& name : names)
        stems.insert(stemOf(name));
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::wstring& name) {
                                   const std::wstring stem = stemOf(name);
                                   return stem.size() > 1 && stem.back() == L'-' &&
                                          stems.count(stem.substr(0, stem.size() - 1)) != 0;
                               }),
                names.end());
    std::sort(names.begin(), names.end(), ByName);
    return names;
}

std::string ShownJoined(const std::string& folder, const std::string& name)
{
    const bool separator = !folder.empty() && (folder.back() == '\\' || folder.back() == '/' || folder.back() == ':');
    return separator ? folder + name : folder + "\\" + name;
}

// The shown name with its last part replaced.
std::string ShownBeside(const std::string& shown, const std::string& name)
{
    const size_t separator = shown.find_last_of("\\/:");
    return separator == std::string::npos ? name : shown.substr(0, separator + 1) + name;
}

void Refuse(PlannedPicture& picture, DWORD code, const std::string& sentence)
{
    picture.refusedCode = static_cast<uint16_t>(code);
    picture.refusal = sentence;
}

void AddPicture(std::vector<PlannedPicture>& plan, const std::wstring& input, const std::string& shown)
{
    PlannedPicture picture;
    picture.input = input;
    picture.inputName = shown;
    const PictureFileFault fault = PictureFileFaultOf(input);
    if (fault.code != 0)
        Refuse(picture, fault.code, "duotint-cli cannot open " + shown + ": " + fault.why + ".");
    plan.push_back(picture);
}

// Every picture of one PATH, as a file or a folder.
void AddPath(std::vector<PlannedPicture>& plan, const std::wstring& path)
{
    const std::wstring full = FullPath(path.c_str());
    const std::string shown = Utf8Of(path);
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        IsDeviceName(LastPathPart(full))) {
        AddPicture(plan, full, shown);
        return;
    }
    const std::vector<std::wstring> names = PicturesIn(full);
    for (const std::wstring& name : names)
        AddPicture(plan, Joined(full, name), ShownJoined(shown, Utf8Of(name)));
    if (names.empty()) {
        PlannedPicture none;
        none.input = full;
        none.inputName = shown;
        Refuse(none, ERROR_FILE_NOT_FOUND, "duotint-cli finds no pictures in " + shown + ".");
        plan.push_back(none);
    }
}

// The output folder as a full path, made when only its last part is
// missing; false with a code and a sentence when it cannot be.
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
            why = "its name is too long for the file system";
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

// The output's full path and shown name; refuses what must not be written.
void PlanOutput(PlannedPicture& picture, const CliOptions& options, const std::wstring& outFolder,
                const std::set<std::wstring>& inputs, std::map<std::wstring, const PlannedPicture*>& outputs)
{
    const std::wstring beside = ExportPathFor(picture.input, OutputSuffix(options.format));
    const std::wstring name(LastPathPart(beside));
    picture.output = FullPath((outFolder.empty() ? beside : Joined(outFolder, name)).c_str());
    picture.outputName = outFolder.empty() ? ShownBeside(picture.inputName, Utf8Of(name))
                                           : ShownJoined(Utf8Of(options.outFolder), Utf8Of(name));
    const std::string& shown = picture.outputName;
    const std::string skips = "duotint-cli skips " + picture.inputName + ": ";

    NameRoom room;
    const ExportNameFault fault = ExportNameFaultOf(picture.output, room);
    if (fault == ExportNameFault::tooLong) {
        Refuse(picture, ERROR_FILENAME_EXCED_RANGE,
               skips + "its output " + shown + " would have a name longer than " + NameRoomText(room) +
                   ", which the file system does not allow.");
        return;
    }
    if (fault == ExportNameFault::device)
        return Refuse(picture, ERROR_ACCESS_DENIED, skips + "its output " + shown + " would name a device.");
    const std::wstring key = FileIdentity(picture.output);
    // Never a picture's own file, nor any other picture of the run, however
    // the path to it is spelled.
    if (inputs.count(key) > 0)
        return Refuse(picture, ERROR_ALREADY_EXISTS, skips + "its output " + shown + " is a picture of this run.");
    const auto earlier = outputs.find(key);
    if (earlier != outputs.end()) {
        return Refuse(picture, ERROR_ALREADY_EXISTS,
                      skips + earlier->second->inputName + " writes the same output " + shown + ".");
    }
    const DWORD attributes = GetFileAttributesW(picture.output.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(picture, ERROR_ACCESS_DENIED, skips + "a folder has the name of its output " + shown + ".");
    if (attributes != INVALID_FILE_ATTRIBUTES && !options.force)
        return Refuse(picture, ERROR_FILE_EXISTS, skips + shown + " exists; --force replaces it.");
    outputs.emplace(key, &picture);
}

}  // namespace

bool PlanPictures(const CliOptions& options, std::vector<PlannedPicture>& plan, uint16_t& code,
                  std::string& sentence)
{
    plan.clear();
    std::wstring outFolder;
    if (!options.outFolder.empty() && !TakeOutFolder(options.outFolder, outFolder, code, sentence))
        return false;
    for (const std::wstring& path : options.paths)
        AddPath(plan, path);

    std::set<std::wstring> inputs;
    for (PlannedPicture& picture : plan) {
        if (picture.refusedCode == 0 && !inputs.insert(FileIdentity(picture.input)).second)
            Refuse(picture, ERROR_ALREADY_EXISTS, "duotint-cli skips " + picture.inputName + ": it is named twice.");
    }
    std::map<std::wstring, const PlannedPicture*> outputs;
    for (PlannedPicture& picture : plan) {
        if (picture.refusedCode == 0)
            PlanOutput(picture, options, outFolder, inputs, outputs);
    }
    return true;
}
