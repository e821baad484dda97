// Which file a typed name means, where a picture's export goes, and which
// names can never be a file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// The extensions the name popup tries, in order: the kinds read before
// WebP first, then WebP, then HEIC and AVIF, each in the order they came to
// be read, so that a name that found a picture before finds the same one.
extern const char* const kPictureExtensions[11];

// Tries name[0, nameLength) with each extension in turn, in the current
// folder only, and leaves the first that is a regular file in name (which
// must hold nameLength + 6 characters). False when none is, and for a
// device's name.
bool FindPictureFile(char* name, int32_t nameLength);

// A path made absolute, in the \\?\ form beyond MAX_PATH, where only that
// form reaches the file.
std::wstring FullPath(const wchar_t* path);

// The export beside a picture: its path without the last extension of the
// file name, and "-.bmp". "C:\\My Pictures\\Holiday Photo.TIF" gives
// "C:\\My Pictures\\Holiday Photo-.bmp".
std::wstring ExportPathFor(const std::wstring& picture, const wchar_t* ending = L"-.bmp");

// What follows the last \, / or : of path.
std::wstring_view LastPathPart(std::wstring_view path);

// Why a full path is no picture file to open: code 0 when it is a regular
// file that may be read; otherwise 2 (it, or a folder on its way, does not
// exist), 5 (a folder, a device, not a regular file, or it may not be read)
// or 206 (a part of it is longer than the file system takes) and a clause
// that says which.
struct PictureFileFault {
    uint16_t code;
    const char* why;
    // For a file that may be read, its FileIdentity, from the open that
    // checked it (empty where its file system keeps no index).
    std::wstring identity = std::wstring();
};
// `attributes`, where the caller has read them already, are not asked for again.
PictureFileFault PictureFileFaultOf(const std::wstring& fullPath, DWORD attributes = INVALID_FILE_ATTRIBUTES);

// Where a relative name that is not there was looked for, as the end of a
// sentence (" in C:\\windows, where ..."), when the working folder is the
// system's: the platform starts a program there when it cannot enter the
// folder it was started from (Wine, one longer than 260 characters), and
// "no such file" alone would be no reason. Empty otherwise.
std::string WhereNotFound(std::string_view typed);

// True when the platform reads this last part of a path as a device:
// con, prn, aux, nul, com1 to com9 and lpt1 to lpt9, in any case, alone or
// with any extension ("NUL.png").
bool IsDeviceName(std::wstring_view lastPart);

// The longest name one part of a path may have in a folder, and the units
// its file system counts it in: UTF-16 units on the platform's own file
// systems, bytes of UTF-8 under Wine, whose names go to a Unix file system.
enum { kMaxNameLength = 255 };  // of one part of a path, on every file system of the platform
struct NameRoom {
    uint32_t most = kMaxNameLength;
    bool inBytes = false;
};
// The room of the folder's volume; the platform's figure when the folder
// cannot be opened (it does not exist, or its own name is too long).
NameRoom NameRoomOf(const std::wstring& folder);
// The length of one part of a path in the room's units.
size_t NameLength(std::wstring_view name, NameRoom room);
// "255 characters" or "255 bytes", for a sentence.
std::string NameRoomText(NameRoom room);
// True when a part of the full path is longer than the file system takes:
// the platform then says only that the file is not there.
bool HasNameTooLong(const std::wstring& fullPath);
// Wine says a name longer than the file system takes is not there: true
// when `code` says not found and the name is that long.
bool NotFoundForBeingTooLong(uint32_t code, const wchar_t* name);

// Why an export path can never be a file, checked before any editing; room
// is left as the export's folder has it, for the sentence.
enum class ExportNameFault { none, tooLong, device };
ExportNameFault ExportNameFaultOf(std::wstring_view exportPath, NameRoom& room);

// What tells a file from every other, however its path is spelled: for a
// file that exists its volume and index, which links, another drive letter
// or the \\.\ and \\?\unix forms share; for a name not yet taken, its
// folder's final path (links followed) and the name, in one case. Equal keys:
// the same file.
std::wstring FileIdentity(const std::wstring& fullPath);
// The key of a file that exists: its volume's serial and its index there,
// the same index on two volumes being two files.
std::wstring IndexedIdentity(uint32_t volumeSerial, uint64_t index);
