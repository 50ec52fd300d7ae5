#include "common/message_box.h"

#include <string.h>

static int SystemMessageBox(HWND owner, const char* text, const char* caption, UINT style)
{
    return MessageBoxA(owner, text, caption, style);
}

MessageBoxFn MessageBoxHook = SystemMessageBox;

unsigned BoxesShown = 0;
char LastBoxText[128];

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style)
{
    BoxesShown++;
    strncpy(LastBoxText, text ? text : "", sizeof LastBoxText - 1);
    LastBoxText[sizeof LastBoxText - 1] = 0;
    return MessageBoxHook(owner, text, caption, style);
}
