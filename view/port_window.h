#pragma once
#include <windows.h>

LRESULT CALLBACK PortWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
