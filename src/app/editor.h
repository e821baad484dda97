// The editor's message loop: the last phase of the program.
#pragma once

[[noreturn]] void RunEditor();
void CreateEditorWindow();

// Destroys the editor window, writes the export and ends the program.
[[noreturn]] void ExportAndEnd();
