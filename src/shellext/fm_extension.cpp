#include "shellext/fm_extension.h"

// No File Manager extension is looked for yet.
bool UnloadFileManagerExtension() {
  return true;
}
