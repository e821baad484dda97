// What went wrong with a picture or its export, as a value: the exit code
// it ends with, and what the one sentence naming the file says. Each
// program shows it its own way: the editor as the box that ends it,
// duotint-cli as a line among its pictures.
#pragma once

#include <cstdint>
#include <string>

// Error numbers of file operations that are not the platform's own.
enum : uint16_t {
    kErrorOutOfMemory = 8,      // a pixel buffer could not be allocated
    kErrorRefusedPicture = 13,  // the picture cannot be tinted soundly
    kErrorShortRead = 100,
    kErrorShortWrite = 101,
    kErrorNotBound = 102,
    kErrorNotOpen = 103,
};

// The longest path the wide functions take, in its \\?\ form.
enum { kLongPathCapacity = 32768 };

// Why a file operation failed, as far as the file layer can tell; the
// sentence says it. unknown: the sentence goes by the error number.
enum class FileFault : uint8_t {
    unknown,
    heldOpen,             // another program has the file open
    readOnlyFile,
    readOnlyFolder,       // the folder takes no new file
    isFolder,             // a folder has the file's name
    folderGone,
    diskFull,
    tooShortForAPicture,  // fewer bytes than any picture's header
    endsEarly,            // fewer bytes than the picture's header promises
};

struct Failure {
    uint16_t code = 0;  // the exit code; 0: nothing failed
    // A refusal (a picture that cannot be tinted, memory that cannot be
    // had): its whole sentence. Empty for a failed file operation.
    std::string sentence;
    // A failed file operation: its file as it was bound, whether it was
    // being written, and why it failed where that is known.
    std::wstring file;
    bool writing = false;
    FileFault fault = FileFault::unknown;

    explicit operator bool() const { return code != 0; }
};

Failure Refusal(uint16_t code, std::string sentence);
// Out of memory (exit code 8): "duotint could not get <what>; close other
// programs and try again."
Failure NoMemoryFor(const std::string& what);

// "it is read-only": why a file operation failed, from what the file layer
// found or else from its error number; null for a number it has no words for.
const char* WhyClause(FileFault fault, uint16_t code);
// WhyClause, or "the system reported error N".
std::string WhyText(FileFault fault, uint16_t code);

// "duotint could not write " or "duotint could not read ": how a failed file
// operation's sentence begins.
const char* FileSentenceStart(bool writing);

// A failed file operation's sentence, "duotint could not write NAME: its
// folder is read-only.", with the file as `shownName` (UTF-8).
std::string FileSentence(const Failure& failure, const std::string& shownName);

// A file's name as a sentence shows it: UTF-8, without the prefix \\?\ that
// only lifts the length limit.
std::string ShownPath(const std::wstring& path);
