// Every message box of the program goes through here, so tests can record
// the texts and answer the boxes instead of blocking on them.
#pragma once
#include <windows.h>

typedef int (*MessageBoxFn)(HWND owner, const char* text, const char* caption, UINT style);
extern MessageBoxFn MessageBoxHook;

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style);

// Counts the boxes shown and keeps the last one's text, so the poll can tell
// which port raised a box.
extern unsigned BoxesShown;
extern char LastBoxText[128];
