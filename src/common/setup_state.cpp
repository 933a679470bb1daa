#include "common/setup_state.h"

SetupState setupState;
