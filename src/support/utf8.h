// Text in UTF-8 and UTF-16 both ways, as the platform converts them.
#pragma once

#include <string>

std::string Utf8Of(const std::wstring& text);
std::wstring WideOf(const std::string& text);
