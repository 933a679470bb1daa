#include "shellext/registry_cleanup.h"

// The registry is not cleaned yet.
bool RemoveShellExtensionKeys() {
  return true;
}
