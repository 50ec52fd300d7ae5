// Finding the running Tarnwick and its port windows.
#include "tools/ctl/ctl.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

long WaitMs = 0;

static void Complain(const char* format, va_list args, const char* after)
{
    fputs("tarnwickctl: ", stderr);
    vfprintf(stderr, format, args);
    fputs(after, stderr);
}

int Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Complain(format, args, "\n");
    va_end(args);
    return EXIT_FAILED;
}

int UsageError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Complain(format, args, "\n(tarnwickctl help shows the usage)\n");
    va_end(args);
    return EXIT_USAGE;
}

int ParseNumber(const char* text, long* value)
{
    char* end = nullptr;
    if (!text || !*text)
        return 0;
    *value = strtol(text, &end, 0);
    return *end == 0;
}

int FindName(const char* const* names, int count, const char* name)
{
    for (int i = 0; i < count; i++) {
        if (_stricmp(names[i], name) == 0)
            return i;
    }
    return -1;
}

int FindTarget(Target* target)
{
    target->frame = FindWindowA(VANT_FRAME_CLASS, nullptr);
    if (!target->frame)
        return Fail("no Tarnwick is running (no %s window found)", VANT_FRAME_CLASS);
    target->mdiClient = FindWindowExA(target->frame, nullptr, "MDICLIENT", nullptr);
    GetWindowThreadProcessId(target->frame, &target->processId);
    if (!target->mdiClient)
        return Fail("Tarnwick's frame window has no MDI client");
    return EXIT_OK;
}

// Text of another process's window, read in wide characters: the ANSI
// messages lose all but the first character across processes under Wine.
std::string ReadWindowText(HWND window)
{
    wchar_t wide[1024];
    DWORD_PTR length = 0;
    wide[0] = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof wide / sizeof wide[0], (LPARAM)wide,
                             SMTO_NORMAL, ANSWER_TIMEOUT_MS, &length))
        return std::string();
    wide[sizeof wide / sizeof wide[0] - 1] = 0;
    char narrow[2048];
    int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    return size > 0 ? std::string(narrow) : std::string();
}

std::string ClassOf(HWND window)
{
    char name[64];
    if (!GetClassNameA(window, name, sizeof name))
        return std::string();
    return name;
}

std::vector<HWND> ListPortWindows(const Target& target)
{
    std::vector<HWND> windows;
    HWND child = nullptr;
    while ((child = FindWindowExA(target.mdiClient, child, VANT_PORT_CLASS, nullptr)) != nullptr)
        windows.push_back(child);
    return windows;
}

HWND FindPortWindow(const Target& target, const char* name)
{
    for (HWND window : ListPortWindows(target)) {
        char title[64];
        GetWindowTextA(window, title, sizeof title);
        if (_stricmp(title, name) == 0)
            return window;
    }
    return nullptr;
}

HWND ActivePortWindow(const Target& target)
{
    DWORD_PTR active = 0;
    if (!SendMessageTimeoutA(target.mdiClient, WM_MDIGETACTIVE, 0, 0, SMTO_NORMAL,
                             ANSWER_TIMEOUT_MS, &active))
        return nullptr;
    HWND window = (HWND)active;
    if (!IsWindow(window) || ClassOf(window) != VANT_PORT_CLASS)
        return nullptr;
    return window;
}

int ActivatePort(const Target& target, const char* name, HWND* window)
{
    *window = FindPortWindow(target, name);
    if (!*window)
        return Fail("%s has no port window in Tarnwick", name);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(target.mdiClient, WM_MDIACTIVATE, (WPARAM)*window, 0, SMTO_NORMAL,
                        ANSWER_TIMEOUT_MS, &result);
    if (ActivePortWindow(target) != *window)
        return Fail("could not activate the port window %s", name);
    return EXIT_OK;
}

int ResolvePortWindow(const Target& target, HWND chosen, HWND* window)
{
    *window = chosen ? chosen : ActivePortWindow(target);
    if (!*window)
        return Fail("no port window is open in Tarnwick");
    return EXIT_OK;
}

int ListPorts(const Target& target)
{
    HWND active = ActivePortWindow(target);
    for (HWND window : ListPortWindows(target)) {
        char title[64];
        GetWindowTextA(window, title, sizeof title);
        printf("%s%s\n", title, window == active ? " *" : "");
    }
    return EXIT_OK;
}

int WaitUntilHidden(HWND window)
{
    for (int waited = 0; waited < APPEAR_TIMEOUT_MS; waited += WAIT_STEP_MS) {
        if (!IsWindow(window) || !IsWindowVisible(window))
            return 1;
        Sleep(WAIT_STEP_MS);
    }
    return 0;
}
