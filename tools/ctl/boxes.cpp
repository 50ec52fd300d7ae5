// Tarnwick's message boxes and dialogs, seen from outside.
#include "tools/ctl/ctl.h"

#include <stdio.h>
#include <string.h>

// Message boxes and dialogs of Tarnwick are its visible top-level #32770
// windows; dialogs are told apart from boxes by their combo boxes.
struct DialogSearch {
    DWORD processId;
    int wantBoxes;
    const char* title;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM lParam)
{
    DialogSearch* search = (DialogSearch*)lParam;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window) ||
        ClassOf(window) != DIALOG_CLASS)
        return TRUE;
    int isDialog = FindWindowExA(window, nullptr, "ComboBox", nullptr) != nullptr;
    if (search->wantBoxes) {
        if (!isDialog && GetDlgItem(window, BOX_TEXT_ID))
            search->found.push_back(window);
    } else if (isDialog) {
        char title[128];
        GetWindowTextA(window, title, sizeof title);
        if (!search->title || strcmp(title, search->title) == 0)
            search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> ListBoxes(const Target& target)
{
    DialogSearch search{target.processId, 1, nullptr, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found;
}

HWND FindDialog(const Target& target, const char* title)
{
    DialogSearch search{target.processId, 0, title, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found.empty() ? nullptr : search.found[0];
}

std::string BoxText(HWND box)
{
    return ReadWindowText(GetDlgItem(box, BOX_TEXT_ID));
}

static void PrintBox(HWND box, int handles)
{
    std::string text = BoxText(box);
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    if (handles)
        printf("%08lx\t%s\n", (unsigned long)(ULONG_PTR)box, text.c_str());
    else
        printf("%s\n", text.c_str());
}

int PrintBoxes(const Target& target, int argc, char** argv)
{
    int handles = argc > 0 && strcmp(argv[0], "--handles") == 0;
    if (argc > handles)
        return UsageError("boxes takes no arguments but --handles");
    std::vector<HWND> boxes = ListBoxes(target);
    for (long waited = 0; boxes.empty() && waited < WaitMs; waited += WAIT_STEP_MS) {
        Sleep(WAIT_STEP_MS);
        boxes = ListBoxes(target);
    }
    for (HWND box : boxes)
        PrintBox(box, handles);
    return EXIT_OK;
}

int DismissBoxes(const Target& target, int argc, char** argv)
{
    int handles = 0, button = IDOK;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--handles") == 0)
            handles = 1;
        else if (_stricmp(argv[i], "ok") == 0)
            button = IDOK;
        else if (_stricmp(argv[i], "cancel") == 0)
            button = IDCANCEL;
        else
            return UsageError("dismiss takes [--handles] [ok|cancel]");
    }
    std::vector<HWND> boxes = ListBoxes(target);
    for (HWND box : boxes) {
        PrintBox(box, handles);
        int id = GetDlgItem(box, button) ? button : (GetDlgItem(box, IDOK) ? IDOK : IDCANCEL);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    }
    for (HWND box : boxes) {
        if (!WaitUntilHidden(box))
            return Fail("a box did not close: %s", BoxText(box).c_str());
    }
    return EXIT_OK;
}
