#include "support/failure.h"

#include <windows.h>

#include <cwchar>

#include "support/utf8.h"

Failure Refusal(uint16_t code, std::string sentence)
{
    Failure failure;
    failure.code = code;
    failure.sentence = std::move(sentence);
    return failure;
}

Failure NoMemoryFor(const std::string& what)
{
    return Refusal(kErrorOutOfMemory, "duotint could not get " + what + "; close other programs and try again.");
}

const char* WhyClause(FileFault fault, uint16_t code)
{
    static const char* const kFaultText[] = {
        nullptr,
        "another program holds it open",
        "it is read-only",
        "its folder is read-only",
        "there is a folder of that name",
        "its folder no longer exists",
        "the disk is full",
        "it is too short to be a picture",
        "it ends before all of the picture could be read",
    };
    static_assert(sizeof kFaultText / sizeof *kFaultText == static_cast<size_t>(FileFault::endsEarly) + 1,
                  "a text per fault");
    const char* text = kFaultText[static_cast<int>(fault)];
    if (text == nullptr) {
        switch (code) {
        case ERROR_FILE_NOT_FOUND: text = "there is no such file"; break;
        case ERROR_PATH_NOT_FOUND: text = kFaultText[static_cast<int>(FileFault::folderGone)]; break;
        case ERROR_ACCESS_DENIED: text = "access to it is denied"; break;
        case ERROR_FILENAME_EXCED_RANGE: text = "its name is too long for the file system"; break;
        case kErrorShortRead: text = kFaultText[static_cast<int>(FileFault::endsEarly)]; break;
        case kErrorShortWrite: text = "not all of it could be written"; break;
        case kErrorNotOpen: text = "it is not open"; break;
        }
    }
    return text;
}

std::string WhyText(FileFault fault, uint16_t code)
{
    const char* text = WhyClause(fault, code);
    return text != nullptr ? text : "the system reported error " + std::to_string(code);
}

const char* FileSentenceStart(bool writing)
{
    return writing ? "duotint could not write " : "duotint could not read ";
}

std::string FileSentence(const Failure& failure, const std::string& shownName)
{
    return FileSentenceStart(failure.writing) + shownName + ": " +
           WhyText(failure.fault, failure.code) + ".";
}

std::string ShownPath(const std::wstring& path)
{
    return Utf8Of(wcsncmp(path.c_str(), L"\\\\?\\", 4) == 0 ? path.substr(4) : path);
}
