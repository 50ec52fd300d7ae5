// Program-wide values shared by every window and the port engine.
#pragma once
#include <windows.h>

class PortRecord;

extern HINSTANCE AppInstance;
extern HWND FrameWindow;
extern HWND MdiClient;
extern HMENU AppMenu;
extern LONG PlatformId;
extern int ShowCrLf;
extern int TestDataOn;
extern PortRecord* CurrentPort;
extern PortRecord* SettingsTargetPort;

// The version query, replaceable so tests can make it fail or report another family.
typedef BOOL(WINAPI* VersionQueryFn)(LPOSVERSIONINFOA);
extern VersionQueryFn VersionQuery;

void DeterminePlatform();
