// The popup in which the user types the picture's name.
#pragma once

#include <cstdint>

void RunNameEntry();

// The character a scan code adds to the name, or 0 for none.
char NameCharacter(int32_t scanCode);
