// Keys, typed text and clicks posted to a port window.
#include "tools/ctl/ctl.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

static std::string Unescape(const char* text)
{
    std::string bytes;
    for (const char* p = text; *p; p++) {
        if (*p != '\\' || !p[1]) {
            bytes += *p;
            continue;
        }
        p++;
        switch (*p) {
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'e':
            bytes += '\x1b';
            break;
        case 'x': {
            char hex[3] = {0, 0, 0};
            for (int i = 0; i < 2 && isxdigit((unsigned char)p[1]); i++)
                hex[i] = *++p;
            bytes += (char)strtol(hex, nullptr, 16);
            break;
        }
        default:
            bytes += *p;
            break;
        }
    }
    return bytes;
}

int TypeText(HWND window, int argc, char** argv)
{
    if (argc != 1)
        return UsageError("type takes one TEXT argument");
    for (unsigned char c : Unescape(argv[0]))
        PostMessageA(window, WM_CHAR, c, 1);
    return EXIT_OK;
}

int PressKey(HWND window, int argc, char** argv)
{
    if (argc != 1)
        return UsageError("key takes one key name");
    static const struct {
        const char* name;
        UINT key;
    } names[] = {{"return", VK_RETURN}, {"enter", VK_RETURN}, {"escape", VK_ESCAPE},
                 {"tab", VK_TAB},       {"back", VK_BACK},    {"space", VK_SPACE}};
    UINT key = 0;
    const char* name = argv[0];
    for (const auto& entry : names) {
        if (_stricmp(entry.name, name) == 0)
            key = entry.key;
    }
    long number = 0;
    if (!key && strlen(name) == 1 && isalnum((unsigned char)name[0]))
        key = (UINT)toupper((unsigned char)name[0]);
    else if (!key && ParseNumber(name, &number) && number > 0 && number < 256)
        key = (UINT)number;
    if (!key)
        return UsageError("unknown key %s", name);
    LPARAM scan = (LPARAM)MapVirtualKeyA(key, MAPVK_VK_TO_VSC) << 16;
    // The program's own message loop turns the key-down into WM_CHAR.
    PostMessageA(window, WM_KEYDOWN, key, scan | 1);
    PostMessageA(window, WM_KEYUP, key, scan | 1 | (LPARAM)0xC0000000u);
    return EXIT_OK;
}

int Click(HWND window, int argc, char** argv)
{
    long x = 0, y = 0;
    if (argc < 2 || argc > 3 || !ParseNumber(argv[0], &x) || !ParseNumber(argv[1], &y) ||
        (argc == 3 && _stricmp(argv[2], "right") != 0))
        return UsageError("click takes X Y [right]");
    LPARAM where = MAKELPARAM(x, y);
    // The port window acts on the position of the last mouse move.
    PostMessageA(window, WM_MOUSEMOVE, 0, where);
    PostMessageA(window, argc == 3 ? WM_RBUTTONUP : WM_LBUTTONUP, 0, where);
    return EXIT_OK;
}

int PostRawMessage(HWND window, int argc, char** argv)
{
    long message = 0, wParam = 0, lParam = 0;
    if (argc != 3 || !ParseNumber(argv[0], &message) || !ParseNumber(argv[1], &wParam) ||
        !ParseNumber(argv[2], &lParam))
        return UsageError("post takes a message, a wParam and an lParam, as numbers");
    if (!PostMessageA(window, (UINT)message, (WPARAM)(ULONG)wParam, (LPARAM)(LONG)lParam))
        return Fail("could not post message %ld: error %lu", message, GetLastError());
    return EXIT_OK;
}
