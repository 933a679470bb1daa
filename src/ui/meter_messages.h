// The meter control's messages (the first private window messages).
#pragma once
#include <windows.h>

constexpr UINT MTR_SETRANGE = WM_USER + 0;
constexpr UINT MTR_GETRANGE = WM_USER + 1;
constexpr UINT MTR_SETPOS = WM_USER + 2;
constexpr UINT MTR_GETPOS = WM_USER + 3;
