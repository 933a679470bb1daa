// The "Meter" control: a horizontal bar with the percentage written across it.
#pragma once
#include <windows.h>

// Registers the "Meter" window class for `instance`.
void RegisterMeterClass(HINSTANCE instance);
