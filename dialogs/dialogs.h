#pragma once
#include <windows.h>

class PortRecord;

INT_PTR CALLBACK OpenPortsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ComSettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void FillComSettings(HWND dialog);
void RunLoopbackTest(PortRecord* port);
