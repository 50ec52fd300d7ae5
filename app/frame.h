#pragma once
#include <windows.h>

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CALLBACK CloseOnePortWindow(HWND window, LPARAM lParam);

// Start-up up to the message loop: layout, classes, menu, accelerators,
// platform, frame window. Returns the accelerator table.
HACCEL StartApplication(HINSTANCE instance, int show);
int RunMessageLoop(HACCEL accelerators);

// The loop's GetMessage, replaceable so tests can make it fail.
typedef BOOL(WINAPI* GetMessageFn)(LPMSG, HWND, UINT, UINT);
extern GetMessageFn GetNextMessage;
