#include "common/state.h"

HINSTANCE AppInstance = nullptr;
HWND FrameWindow = nullptr;
HWND MdiClient = nullptr;
HMENU AppMenu = nullptr;
LONG PlatformId = 0;
int ShowCrLf = 0;
int TestDataOn = 0;
PortRecord* CurrentPort = nullptr;
PortRecord* SettingsTargetPort = nullptr;

#ifdef __GNUC__
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
VersionQueryFn VersionQuery = GetVersionExA;

void DeterminePlatform()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = 148;
    if (VersionQuery(&info))
        PlatformId = (LONG)info.dwPlatformId;
    else
        PlatformId = VER_PLATFORM_WIN32_NT;
}
