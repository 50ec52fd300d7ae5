#include "common/message_box.h"

static int SystemMessageBox(HWND owner, const char* text, const char* caption, UINT style)
{
    return MessageBoxA(owner, text, caption, style);
}

MessageBoxFn MessageBoxHook = SystemMessageBox;

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style)
{
    return MessageBoxHook(owner, text, caption, style);
}
