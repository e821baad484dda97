// The editor's message loop: the last phase of the program.
#pragma once

struct Input;

[[noreturn]] void RunEditor();
void CreateEditorWindow();

// Destroys the editor window, writes the export and ends the program.
[[noreturn]] void ExportAndEnd();
// Left Shift: the wheel step flips between 10 and 1.
void ToggleStep();

// How a numeric entry ended, when it hands control back to the editor loop.
enum class EntryEnd {
    returned,  // Enter (with or without a number) or a wheel notch: see the state fields
    recreate,  // a mouse button was pressed: the editor window is to be re-created
};
// One numeric entry. `first` is the message that started it, which the
// entry takes as its own first message.
EntryEnd RunNumericEntry(const Input& first);
