// Text in UTF-8 and UTF-16 both ways, as the platform converts them.
#pragma once

#include <string>
#include <string_view>

std::string Utf8Of(std::wstring_view text);
std::wstring WideOf(const std::string& text);
// The platform's ANSI text (a name the editor was given) as UTF-16 in `out`,
// at most `capacity` characters with its ending zero; false when it cannot
// be. Allocates nothing: an error report uses it when memory may be short.
bool WideOfAnsi(const char* text, wchar_t* out, int capacity);
