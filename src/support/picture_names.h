// Which file a typed name means, and where a picture's export goes.
#pragma once

#include <cstdint>
#include <string>

// The extensions the name popup tries, in order.
extern const char* const kPictureExtensions[7];

// Tries name[0, nameLength) with each extension in turn, in the current
// folder only, and leaves the first that is a regular file in name (which
// must hold nameLength + 6 characters). False, with name holding the last
// try, when none is.
bool FindPictureFile(char* name, int32_t nameLength);

// A path made absolute, in the \\?\ form beyond MAX_PATH, where only that
// form reaches the file.
std::wstring FullPath(const wchar_t* path);

// The export beside a picture: its path without the last extension of the
// file name, and "-.bmp". "C:\\My Pictures\\Holiday Photo.TIF" gives
// "C:\\My Pictures\\Holiday Photo-.bmp".
std::wstring ExportPathFor(const std::wstring& picture);
