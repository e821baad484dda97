// The command line's picture. The path is taken in UTF-16 and kept so, so any
// folder, case, space or character works; it is made absolute once, so the
// export lands beside the picture whatever the current folder is.
#include "editor/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "editor/error.h"
#include "editor/program_state.h"
#include "options/words.h"
#include "support/picture_names.h"
#include "support/utf8.h"

std::wstring commandLinePath;
std::wstring commandLineExportPath;
char displayName[4 * MAX_PATH];
std::string formatWord;
std::string chromaWord;
HANDLE standardOutput;
TintParameters commandLineLook;

namespace {

[[noreturn]] void CannotOpen(unsigned code, const char* why)
{
    char sentence[sizeof displayName + 8 * MAX_PATH];
    snprintf(sentence, sizeof sentence, "duotint cannot open %s: %s.", displayName, why);
    EndWithSentence(static_cast<uint16_t>(code), sentence);
}

// An export path that can never be a file, or that is the picture itself
// under another spelling (a link, another drive letter), ends the program
// now, before the user has done any editing that the export key would then
// lose or write over the picture.
void CheckExportName(const std::wstring& picture, const std::wstring& path)
{
    NameRoom room;
    const ExportNameFault fault = ExportNameFaultOf(path, room);
    const std::string utf8 = Utf8Of(LastPathPart(path));
    char why[4 * MAX_PATH + 128];
    if (fault == ExportNameFault::tooLong) {
        snprintf(why, sizeof why, "its export %s would be longer than %s, which the file system does not allow",
                 utf8.c_str(), NameRoomText(room).c_str());
        CannotOpen(kExitExportNameTooLong, why);
    }
    if (fault == ExportNameFault::device) {
        snprintf(why, sizeof why, "its export %s would name a device, not a file", utf8.c_str());
        CannotOpen(kExitCannotRead, why);
    }
    if (FileIdentity(path) == FileIdentity(picture)) {
        snprintf(why, sizeof why, "its export %s is the picture itself under another name", utf8.c_str());
        CannotOpen(kExitExportIsPicture, why);
    }
}

[[noreturn]] void CannotTake(const std::string& option, const std::string& value, const std::string& why)
{
    const std::string sentence =
        "duotint cannot take " + option + (value.empty() ? "" : " " + value) + ": " + why + ".";
    EndWithSentence(kExitUsage, sentence.c_str());
}

// The look as duotint-cli's words, with the export's format, quality and
// chroma where the command line gave them.
std::string LookWords(const TintParameters& look)
{
    std::string words = "--tint " + TintText(look);
    if (!formatWord.empty())
        words += " --format " + formatWord;
    if (state.exportQuality != 0)
        words += " --quality " + std::to_string(state.exportQuality);
    if (!chromaWord.empty())
        words += " --chroma " + chromaWord;
    return words;
}

// The version and the libraries pictures are read with, on standard
// output, or in a box for a program started without one; then the end.
[[noreturn]] void ShowVersion()
{
    std::string text = VersionText("duotint");
    if (standardOutput != nullptr) {
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
            text.insert(at, 1, '\r');
        text += "\r\n";
        DWORD written = 0;
        WriteFile(standardOutput, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        MessageBoxA(nullptr, text.c_str(), "duotint", MB_OK | MB_ICONINFORMATION);
    }
    ExitProcess(0);
}

}  // namespace

int TakeCommandLineOptions(wchar_t* const* arguments, int count)
{
    static const char* const kOptions[] = {"--tint", "--format", "--quality", "--chroma"};
    int at = 1;
    for (; at < count; ++at) {
        const std::wstring word = arguments[at];
        if (word == L"--version")
            ShowVersion();
        const std::string name = Utf8Of(word.substr(0, word.find(L'=')));
        const auto known = std::find(std::begin(kOptions), std::end(kOptions), name);
        if (known == std::end(kOptions))
            break;
        std::wstring value;
        if (name.size() < word.size())
            value = word.substr(word.find(L'=') + 1);
        else if (at + 1 < count)
            value = arguments[++at];
        else
            CannotTake(*known, "", "it needs a value after it");
        const std::string utf8 = Utf8Of(value);
        if (name == "--tint") {
            std::string why;
            if (!ParseTintText(utf8, commandLineLook, why))
                CannotTake(name, utf8, why);
            state.startLook = &commandLineLook;
            continue;
        }
        ExportWords words{state.exportFormat, state.exportQuality, state.exportChroma};
        const char* takes = nullptr;
        if (!TakeExportWord(name, utf8, words, takes))
            CannotTake(name, utf8, std::string("it takes ") + takes);
        state.exportFormat = words.format;
        state.exportQuality = words.quality;
        state.exportChroma = words.chroma;
        if (name == "--format")
            formatWord = utf8;
        else if (name == "--chroma")
            chromaWord = utf8;
    }
    return at;
}

bool TakeCommandLinePicture()
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const int at = arguments == nullptr ? count : TakeCommandLineOptions(arguments, count);
    if (arguments == nullptr || at >= count || arguments[at][0] == L'\0') {
        LocalFree(arguments);
        return false;
    }
    // Sentences are UTF-8; the box shows them in full.
    const std::string shown = Utf8Of(arguments[at]);
    snprintf(displayName, sizeof displayName, "%s",
             shown.size() < sizeof displayName ? shown.c_str() : "the picture named on the command line");
    commandLinePath = FullPath(arguments[at]);
    LocalFree(arguments);

    const PictureFileFault fault = PictureFileFaultOf(commandLinePath);
    if (fault.code != 0)
        CannotOpen(fault.code,
                   (fault.why + (fault.code == ERROR_FILE_NOT_FOUND ? WhereNotFound(shown) : std::string())).c_str());

    commandLineExportPath = ExportPathFor(commandLinePath, OutputSuffix(state.exportFormat));
    CheckExportName(commandLinePath, commandLineExportPath);
    state.picturePath = commandLinePath.c_str();
    state.exportPath = commandLineExportPath.c_str();
    state.fileNamePtr = displayName;
    return true;
}

void CheckTypedPictureExport()
{
    // The typed name and its export: a few letters, in the current folder.
    const std::wstring picture = FullPath(WideOf(state.fileName).c_str());
    const std::wstring typed = WideOf(std::string(state.fileName, static_cast<size_t>(state.nameLength)));
    snprintf(displayName, sizeof displayName, "%s", state.fileName);
    CheckExportName(picture, FullPath((typed + OutputSuffix(state.exportFormat)).c_str()));
}

void TakeStandardOutput()
{
    // A window program has no console of its own: standard output is what
    // its starter handed on (a console, a file or a pipe), or nothing. A
    // starter that handed nothing on may leave a stale number here. Taken
    // before the program opens anything, such a number names nothing, and
    // GetFileType says so; at the end it might name a file of the program's.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    const DWORD kind = GetFileType(out);
    if (kind == FILE_TYPE_DISK || kind == FILE_TYPE_PIPE || kind == FILE_TYPE_CHAR)
        standardOutput = out;
}

void WriteLookLine()
{
    if (standardOutput == nullptr)
        return;
    // A line as the platform's console programs end one.
    const std::string line = LookWords(CurrentTintParameters()) + "\r\n";
    DWORD written = 0;
    // A reader that has gone loses the line; the export is written all the same.
    WriteFile(standardOutput, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
