// The one seam between the port engine and the serial device layer.
// Every device call of the engine goes through DeviceCalls; it starts out
// pointing at the operating system and a simulated adapter can replace it.
#pragma once
#include <windows.h>

struct DeviceTable {
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    DWORD(WINAPI* WaitForSingleObject)(HANDLE, DWORD);
    HANDLE(WINAPI* CreateEventA)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* GetCommModemStatus)(HANDLE, LPDWORD);
    BOOL(WINAPI* EscapeCommFunction)(HANDLE, DWORD);
    BOOL(WINAPI* DeviceIoControl)
    (HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* PurgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* GetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
    void(WINAPI* Sleep)(DWORD);
    // The engine's clock in milliseconds: stall limits, cadence and pacing are
    // measured on it, so a simulated adapter can drive them.
    ULONGLONG(WINAPI* GetTickCount64)();
};

// The operating system's own functions.
extern const DeviceTable SystemDevice;

// What the engine calls. Failures are reported through SetLastError, so
// callers read the code with GetLastError as usual.
extern DeviceTable Device;
