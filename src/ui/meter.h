// The "Meter" control: a horizontal bar with the percentage written across it. It keeps its
// range and position in its window's extra bytes and repaints at once when either is set.
#pragma once
#include <windows.h>

// Registers the "Meter" window class for `instance`; a failed registration is not reported.
void RegisterMeterClass(HINSTANCE instance);

// The class's window procedure.
LRESULT CALLBACK MeterWindowProc(HWND meter, UINT message, WPARAM wParam, LPARAM lParam);

// Paints `meter`'s bar and percentage into `dc` over `client`, the meter's client rectangle.
// Every pixel of `client` is painted; what lies outside it is the device context's to clip.
void PaintMeter(HWND meter, HDC dc, const RECT& client);
