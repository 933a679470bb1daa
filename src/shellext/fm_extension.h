// Unloading the product's File Manager extension before anything is installed.
#pragma once

// True: setup goes on. False: the user has been told how to close the File Manager.
bool UnloadFileManagerExtension();
