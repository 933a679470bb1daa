// Unloading the product's File Manager extension before anything is installed: the
// "winfile.ini" registration is removed, a running File Manager is asked to reload its
// extensions, and setup waits until the extension library's file is free.
#pragma once

// True: setup goes on. False: the user has been told how to close the File Manager (messages
// 1044 and 1045) and setup must stop without a further message.
bool UnloadFileManagerExtension();
