// The popup in which the user types the picture's name.
#pragma once

void RunNameEntry();

