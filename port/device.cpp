#include "port/device.h"

const DeviceTable SystemDevice = {
    CreateFileA,         ReadFile,           WriteFile,       GetOverlappedResult,
    WaitForSingleObject, CreateEventA,       CloseHandle,     ClearCommError,
    GetCommModemStatus,  EscapeCommFunction, DeviceIoControl, PurgeComm,
    GetCommState,        SetCommState,       Sleep,           GetTickCount64,
};

DeviceTable Device = SystemDevice;
