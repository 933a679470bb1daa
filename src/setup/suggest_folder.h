// The install folder that the welcome dialog proposes: the folder of a product copy that the
// ".zip" association already names, else Program Files\Kestra, kept away from a folder that
// holds the old 16-bit product.
#pragma once

// The old 16-bit product's program, which cannot share a folder with this version.
constexpr char k16BitProgram[] = "kestra.exe";

// Fills setupState.suggestedFolder, which starts as "C:\Kestra".
void SuggestInstallFolder();

// Copies the platform's Program Files folder into `target` (at least 201 characters).
bool ProgramFilesFolder(char* target);

// True when "kestra.exe", the old 16-bit product, exists in `folder` (wildcards in the folder
// are honoured; an empty folder means the root of the current drive).
bool Has16BitProduct(const char* folder);
