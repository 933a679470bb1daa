// The registry names of the product's shell extension under HKEY_CLASSES_ROOT: its eight class
// ids and the handler keys of the file and folder types that point to them. Plain data with no
// includes, shared by setup (which removes the keys) and the stub library (which reads its own
// registration under the first id).
#pragma once

constexpr int kShellExtensionClassCount = 8;
constexpr int kShellExtensionHandlerCount = 8;

// A class registration lives at "CLSID\<id>".
constexpr const char kClassKeyFormat[] = "CLSID\\%s";

// In the order setup removes them: 4 to 7, then 0 to 3. Lower case, with braces.
inline constexpr const char* kShellExtensionClassIds[kShellExtensionClassCount] = {
    "{6b1f4a34-2c7d-11cf-8a52-00aa00c13f10}", "{6b1f4a35-2c7d-11cf-8a52-00aa00c13f10}",
    "{6b1f4a36-2c7d-11cf-8a52-00aa00c13f10}", "{6b1f4a37-2c7d-11cf-8a52-00aa00c13f10}",
    "{6b1f4a30-2c7d-11cf-8a52-00aa00c13f10}", "{6b1f4a31-2c7d-11cf-8a52-00aa00c13f10}",
    "{6b1f4a32-2c7d-11cf-8a52-00aa00c13f10}", "{6b1f4a33-2c7d-11cf-8a52-00aa00c13f10}",
};

// The class under which the stub library finds its own path ("CLSID\<id>\InProcServer32").
inline constexpr const char* kStubLibraryClassId = kShellExtensionClassIds[0];

// The handler entries that name the classes, removed after the classes, in this order. Only
// these keys go; their parents and other products' handlers beside them stay.
inline constexpr const char* kShellExtensionHandlerKeys[kShellExtensionHandlerCount] = {
    "Kestra\\shellex\\DropHandler",
    "Directory\\shellex\\DragDropHandlers\\Kestra",
    "Drive\\shellex\\DragDropHandlers\\Kestra",
    "Folder\\shellex\\DragDropHandlers\\Kestra",
    "*\\shellex\\ContextMenuHandlers\\Kestra",
    "Folder\\shellex\\ContextMenuHandlers\\Kestra",
    "Directory\\shellex\\ContextMenuHandlers\\Kestra",
    ".ZIP\\ShellEx\\{00021500-0000-0000-c000-000000000046}",  // IQueryInfo, the info tip
};
