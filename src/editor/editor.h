// The editor's message loop: the last phase of the program.
#pragma once

[[noreturn]] void RunEditor();
