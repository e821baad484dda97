// Text in UTF-8 and UTF-16 both ways, as the platform converts them.
#pragma once

#include <string>
#include <string_view>

std::string Utf8Of(std::wstring_view text);
std::wstring WideOf(const std::string& text);
