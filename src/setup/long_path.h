// Long path expansion: a path of short (8.3) names rebuilt component by component from the long
// names that the file system reports (C:\PROGRA~1\KESTRA becomes C:\Program Files\Kestra).
// Nothing on disk is created or changed.
#pragma once

// The buffer a found name is copied into, terminator included.
constexpr int kFoundNameChars = 260;

// Looks `path` up with a directory search (wildcards allowed) and copies the found entry's long
// name into `name` (kFoundNameChars). False when nothing is found.
using LongNameFinder = bool (*)(const char* path, char* name, void* context);

// Expands `source` into `result`, which holds `capacity` characters plus the terminator, looking
// names up with `find`. Returns the length of the expanded path, or 0 when a component is
// missing or the result would not fit (the result is then not meaningful). Only backslashes
// separate components; a last component with "*" or "?" is taken as it stands.
int ExpandLongPathWith(const char* source, char* result, int capacity, LongNameFinder find,
                       void* context);

// The same with the file system's directory search (Windows).
int ExpandLongPath(const char* source, char* result, int capacity);

// Replaces `path` by its long form when the expansion succeeds, else leaves it alone. `path`
// must hold 262 characters (a long form of up to 261 characters is taken). Returns `path`.
char* ExpandLongPathInPlace(char* path);
