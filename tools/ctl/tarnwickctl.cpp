// tarnwickctl: drives a running Tarnwick from outside. Several of Tarnwick's
// commands have no menu item or key and are reached only as WM_COMMAND at the
// frame window; this tool sends them, fills the Open Ports dialog, picks the
// port window that commands act on, and reads back what the program shows.
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include <windows.h>

// The program's own identifiers: command numbers and dialog controls.
#include "app/commands.h"
#include "dialogs/line_settings.h"
#include "tools/ctl/ctl.h"

#define FRAME_CLASS "VantFrame"
#define PORT_CLASS "VantDraw"
#define DIALOG_CLASS "#32770"
#define OPEN_PORTS_TITLE "Open Ports"
#define BOX_TEXT_ID 0xFFFF
#define APPEAR_TIMEOUT_MS 10000
#define WAIT_STEP_MS 20

#define TEXT_ROW_PITCH 14
#define TEXT_LEFT 10
#define LAMP_TOP 1
#define LAMP_BOTTOM 17
#define HOLD_ROW_OFFSET 240
#define LIT_SIGNAL_RGB 0x80FF80
#define LIT_HOLD_RGB 0x8080FF
#define DARK_LAMP_RGB 0xC0C0C0

// --wait: how long boxes and check-row keep looking for what they want.
static long WaitMs = 0;

static const char UsageText[] =
    "Usage: tarnwickctl [--port COMn] [--wait MS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Sends a command to the running Tarnwick (the window of class VantFrame).\n"
    "--port COMn first activates the port window COMn, so that port commands\n"
    "act on that port; without it they act on the active port window.\n"
    "--wait MS makes boxes wait up to MS ms for a box, and check-row for the text.\n"
    "\n"
    "Commands, by name or by number:\n"
    "  close (200)            close the active port window\n"
    "  exit (201)             end Tarnwick (needs a port window; see quit)\n"
    "  show-crlf (202)        show or hide CR and LF as markers\n"
    "  tile (203)             tile the port windows\n"
    "  cascade (204)          cascade the port windows\n"
    "  arrange-icons (205)    arrange minimised port windows\n"
    "  close-all (206)        close every port window\n"
    "  send-test-data (213)   switch the test pattern on all ports on or off\n"
    "  settings (214)         COM Settings dialog of the port\n"
    "  clear-screen (216)     empty the port's screen\n"
    "  set-xoff (217)         hold the port's output as if XOFF was received\n"
    "  set-xon (218)          release it again\n"
    "  set-break (223)        start a break on the port\n"
    "  clear-break (224)      end the break\n"
    "  loopback-test (225)    loopback-plug test of the port\n"
    "  open-ports (40001)     show the Open Ports dialog\n"
    "  about (40004)          About box\n"
    "  NUMBER                 any other command identifier\n"
    "\n"
    "  open FIRST COUNT [--baud N] [--data 7|8] [--parity none|odd|even|mark|space]\n"
    "       [--stop 1|1.5|2] [--rts clear|set|auto|toggle] [--dtr clear|set|auto]\n"
    "       [--xonxoff-rx] [--xonxoff-tx] [--cts] [--dsr]\n"
    "                         open COMFIRST and the COUNT-1 ports after it through\n"
    "                         the Open Ports dialog; other settings as the dialog's\n"
    "                         defaults (9600 8 none 1, RTS and DTR set, no flow control)\n"
    "  activate COMn          make COMn the active port window\n"
    "  ports                  list the port windows, the active one marked with *\n"
    "  quit                   close the frame window, which ends Tarnwick\n"
    "\n"
    "For tests and scripts:\n"
    "  boxes [--handles]      print the text of each open message box, a line each\n"
    "  dismiss [ok|cancel]    answer every open message box (OK by default) and\n"
    "                         print its text; --handles also prints its handle\n"
    "  type TEXT              type TEXT into the port window (\\r \\n \\t \\xHH \\\\ escapes)\n"
    "  key NAME               press and release a key: return, escape, tab, back,\n"
    "                         a letter or digit, or a virtual-key number\n"
    "  click X Y [right]      click at X,Y in the port window's client area\n"
    "  lamps                  print the lamps of the port window as painted\n"
    "  pixel X Y              print the colour (RRGGBB) at X,Y of the port window\n"
    "  check-row TEXT [ROW] [--dump PATH]\n"
    "                         compare painted text row ROW (default: the bottom\n"
    "                         row) with TEXT drawn in the window's font; --dump\n"
    "                         writes both as PATH-shown.ppm and PATH-expected.ppm\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (no Tarnwick running, no such port\n"
    "window, no answer), 2 on a usage error, 3 when a burn-in ran and some port\n"
    "failed it.\n";

struct NamedCommand {
    const char* name;
    int id;
    int needsPortWindow;
    int mayOpenBox;
};

static const NamedCommand Commands[] = {
    {"close", CMD_CLOSE, 0, 0},
    {"exit", CMD_EXIT, 1, 1},
    {"show-crlf", CMD_SHOW_CRLF, 0, 0},
    {"tile", CMD_TILE, 0, 0},
    {"cascade", CMD_CASCADE, 0, 0},
    {"arrange-icons", CMD_ARRANGE_ICONS, 0, 0},
    {"close-all", CMD_CLOSE_ALL, 0, 0},
    {"send-test-data", CMD_SEND_TEST_DATA, 0, 0},
    {"settings", CMD_PORT_SETTINGS, 1, 1},
    {"clear-screen", CMD_CLEAR_SCREEN, 1, 0},
    {"set-xoff", CMD_SET_XOFF, 1, 0},
    {"set-xon", CMD_SET_XON, 1, 0},
    {"set-break", CMD_SET_BREAK, 1, 0},
    {"clear-break", CMD_CLEAR_BREAK, 1, 0},
    {"loopback-test", CMD_LOOPBACK_TEST, 1, 1},
    {"open-ports", CMD_OPEN_PORTS, 0, 1},
    {"about", CMD_ABOUT, 0, 1},
};

static const char* const SignalLabels[] = {"CTS", "DSR", "CD", "RI", "RTS", "DTR", "LOOP"};
static const char* const HoldLabels[] = {"CTS", "DSR", "CD", "XOFFH", "XOFFS", "EOF", "TXIM"};

static const char* const BaudNames[] = {"300",   "600",    "1200",   "2400",   "3600",
                                        "4800",  "7200",   "9600",   "19200",  "38400",
                                        "57600", "115200", "230400", "460800", "921600"};
static const char* const DataBitsNames[] = {"7", "8"};
static const char* const ParityNames[] = {"none", "odd", "even", "mark", "space"};
static const char* const StopBitsNames[] = {"1", "1.5", "2"};
static const char* const RtsNames[] = {"clear", "set", "auto", "toggle"};
static const char* const DtrNames[] = {"clear", "set", "auto"};

int Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("tarnwickctl: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    return EXIT_FAILED;
}

int UsageError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("tarnwickctl: ", stderr);
    vfprintf(stderr, format, args);
    fputs("\n(tarnwickctl help shows the usage)\n", stderr);
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

static int FindName(const char* const* names, int count, const char* name)
{
    for (int i = 0; i < count; i++) {
        if (_stricmp(names[i], name) == 0)
            return i;
    }
    return -1;
}

int FindTarget(Target* target)
{
    target->frame = FindWindowA(FRAME_CLASS, nullptr);
    if (!target->frame)
        return Fail("no Tarnwick is running (no %s window found)", FRAME_CLASS);
    target->mdiClient = FindWindowExA(target->frame, nullptr, "MDICLIENT", nullptr);
    GetWindowThreadProcessId(target->frame, &target->processId);
    if (!target->mdiClient)
        return Fail("Tarnwick's frame window has no MDI client");
    return EXIT_OK;
}

// Text of another process's window, read in wide characters: the ANSI
// messages lose all but the first character across processes under Wine.
static std::string ReadWindowText(HWND window)
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

static std::string ClassOf(HWND window)
{
    char name[64];
    if (!GetClassNameA(window, name, sizeof name))
        return std::string();
    return name;
}

static std::vector<HWND> ListPortWindows(const Target& target)
{
    std::vector<HWND> windows;
    HWND child = nullptr;
    while ((child = FindWindowExA(target.mdiClient, child, PORT_CLASS, nullptr)) != nullptr)
        windows.push_back(child);
    return windows;
}

static HWND FindPortWindow(const Target& target, const char* name)
{
    for (HWND window : ListPortWindows(target)) {
        char title[64];
        GetWindowTextA(window, title, sizeof title);
        if (_stricmp(title, name) == 0)
            return window;
    }
    return nullptr;
}

static HWND ActivePortWindow(const Target& target)
{
    DWORD_PTR active = 0;
    if (!SendMessageTimeoutA(target.mdiClient, WM_MDIGETACTIVE, 0, 0, SMTO_NORMAL,
                             ANSWER_TIMEOUT_MS, &active))
        return nullptr;
    HWND window = (HWND)active;
    if (!IsWindow(window) || ClassOf(window) != PORT_CLASS)
        return nullptr;
    return window;
}

static int ActivatePort(const Target& target, const char* name, HWND* window)
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

static std::vector<HWND> ListBoxes(const Target& target)
{
    DialogSearch search{target.processId, 1, nullptr, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found;
}

static HWND FindDialog(const Target& target, const char* title)
{
    DialogSearch search{target.processId, 0, title, {}};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found.empty() ? nullptr : search.found[0];
}

static std::string BoxText(HWND box)
{
    return ReadWindowText(GetDlgItem(box, BOX_TEXT_ID));
}

static int SendCommand(const Target& target, const NamedCommand& command)
{
    if (command.needsPortWindow && !ActivePortWindow(target))
        return Fail("no port window is open in Tarnwick, so command %d (%s) would do nothing",
                    command.id, command.name);
    // A command that opens a modal box would hold a sent message until the box
    // closes, so those are posted; the others are sent, so that they have been
    // carried out when this tool returns.
    if (command.mayOpenBox) {
        if (!PostMessageA(target.frame, WM_COMMAND, command.id, 0))
            return Fail("could not post command %d: error %lu", command.id, GetLastError());
        return EXIT_OK;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target.frame, WM_COMMAND, command.id, 0, SMTO_NORMAL,
                             ANSWER_TIMEOUT_MS, &result))
        return Fail("Tarnwick did not take command %d within %d ms (busy?)", command.id,
                    ANSWER_TIMEOUT_MS);
    return EXIT_OK;
}

static int WaitUntilHidden(HWND window)
{
    for (int waited = 0; waited < APPEAR_TIMEOUT_MS; waited += WAIT_STEP_MS) {
        if (!IsWindow(window) || !IsWindowVisible(window))
            return 1;
        Sleep(WAIT_STEP_MS);
    }
    return 0;
}

static int SetComboIndex(HWND dialog, int control, int index, const char* what)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, control), CB_SETCURSEL, index, 0, SMTO_NORMAL,
                             ANSWER_TIMEOUT_MS, &result) ||
        (LRESULT)result == CB_ERR)
        return Fail("could not select %s in the Open Ports dialog", what);
    return EXIT_OK;
}

struct OpenRequest {
    long first;
    long count;
    int lists[6][2];  // control, index (-1: leave the default)
    int checks[4][2]; // control, checked
};

static int ParseChoice(const char* option, const char* value, const char* const* names, int count,
                       int* index)
{
    if (!value)
        return UsageError("%s needs a value", option);
    *index = FindName(names, count, value);
    if (*index < 0) {
        std::string choices;
        for (int i = 0; i < count; i++)
            choices += std::string(i ? "|" : "") + names[i];
        return UsageError("%s %s: choose one of %s", option, value, choices.c_str());
    }
    return EXIT_OK;
}

static int ParseOpenRequest(int argc, char** argv, OpenRequest* request)
{
    static const int listControls[6] = {IDC_BAUD,      IDC_DATA_BITS, IDC_PARITY,
                                        IDC_STOP_BITS, IDC_RTS,       IDC_DTR};
    static const int checkControls[4] = {IDC_RX_XONXOFF, IDC_TX_XONXOFF, IDC_CTS_FLOW,
                                         IDC_DSR_FLOW};
    for (int i = 0; i < 6; i++) {
        request->lists[i][0] = listControls[i];
        request->lists[i][1] = -1;
    }
    for (int i = 0; i < 4; i++) {
        request->checks[i][0] = checkControls[i];
        request->checks[i][1] = 0;
    }
    if (argc < 2 || !ParseNumber(argv[0], &request->first) ||
        !ParseNumber(argv[1], &request->count))
        return UsageError("open wants FIRST and COUNT, e.g. open 5 3");
    if (request->first < 1 || request->first > 255)
        return UsageError("the first port must be 1 to 255, not %ld", request->first);
    if (request->count < 0)
        return UsageError("the quantity cannot be negative");
    for (int i = 2; i < argc; i++) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int status = EXIT_OK;
        int* slot = nullptr;
        if (strcmp(option, "--baud") == 0) {
            slot = &request->lists[0][1];
            status = ParseChoice(option, value, BaudNames, 15, slot);
        } else if (strcmp(option, "--data") == 0) {
            slot = &request->lists[1][1];
            status = ParseChoice(option, value, DataBitsNames, 2, slot);
        } else if (strcmp(option, "--parity") == 0) {
            slot = &request->lists[2][1];
            status = ParseChoice(option, value, ParityNames, 5, slot);
        } else if (strcmp(option, "--stop") == 0) {
            slot = &request->lists[3][1];
            status = ParseChoice(option, value, StopBitsNames, 3, slot);
        } else if (strcmp(option, "--rts") == 0) {
            slot = &request->lists[4][1];
            status = ParseChoice(option, value, RtsNames, 4, slot);
        } else if (strcmp(option, "--dtr") == 0) {
            slot = &request->lists[5][1];
            status = ParseChoice(option, value, DtrNames, 3, slot);
        } else if (strcmp(option, "--xonxoff-rx") == 0) {
            request->checks[0][1] = 1;
        } else if (strcmp(option, "--xonxoff-tx") == 0) {
            request->checks[1][1] = 1;
        } else if (strcmp(option, "--cts") == 0) {
            request->checks[2][1] = 1;
        } else if (strcmp(option, "--dsr") == 0) {
            request->checks[3][1] = 1;
        } else {
            return UsageError("open: unknown option %s", option);
        }
        if (status != EXIT_OK)
            return status;
        if (slot)
            i++;
    }
    return EXIT_OK;
}

static HWND WaitForDialog(const Target& target, const char* title)
{
    for (int waited = 0; waited < APPEAR_TIMEOUT_MS; waited += WAIT_STEP_MS) {
        HWND dialog = FindDialog(target, title);
        if (dialog)
            return dialog;
        Sleep(WAIT_STEP_MS);
    }
    return nullptr;
}

static int FillOpenPortsDialog(HWND dialog, const OpenRequest& request)
{
    int status = SetComboIndex(dialog, IDC_FROM_PORT, (int)request.first - 1, "the first port");
    if (status != EXIT_OK)
        return status;
    char quantity[32];
    snprintf(quantity, sizeof quantity, "%ld", request.count);
    HWND quantityBox = GetDlgItem(dialog, IDC_QUANTITY);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(quantityBox, WM_SETTEXT, 0, (LPARAM)quantity, SMTO_NORMAL,
                        ANSWER_TIMEOUT_MS, &result);
    if (ReadWindowText(quantityBox) != quantity)
        return Fail("could not type the quantity into the Open Ports dialog");
    for (int i = 0; i < 6; i++) {
        if (request.lists[i][1] < 0)
            continue;
        status = SetComboIndex(dialog, request.lists[i][0], request.lists[i][1], "a line setting");
        if (status != EXIT_OK)
            return status;
    }
    for (int i = 0; i < 4; i++) {
        SendMessageTimeoutA(GetDlgItem(dialog, request.checks[i][0]), BM_SETCHECK,
                            request.checks[i][1] ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_NORMAL,
                            ANSWER_TIMEOUT_MS, &result);
    }
    return EXIT_OK;
}

// Waits until every port of the run has its window or Tarnwick shows a box,
// then reports which.
static int ReportOpenedRun(const Target& target, const OpenRequest& request)
{
    std::vector<std::string> missing;
    std::vector<HWND> boxes;
    for (int waited = 0;; waited += WAIT_STEP_MS) {
        missing.clear();
        for (long n = request.first; n < request.first + request.count; n++) {
            char name[32];
            snprintf(name, sizeof name, "COM%ld", n);
            if (!FindPortWindow(target, name))
                missing.push_back(name);
        }
        boxes = ListBoxes(target);
        if (missing.empty() || !boxes.empty() || waited >= APPEAR_TIMEOUT_MS)
            break;
        Sleep(WAIT_STEP_MS);
    }
    if (missing.empty())
        return EXIT_OK;
    std::string names;
    for (const std::string& name : missing)
        names += " " + name;
    fprintf(stderr, "tarnwickctl: no port window (yet) for%s\n", names.c_str());
    for (HWND box : boxes)
        fprintf(stderr, "tarnwickctl: Tarnwick shows the box: %s\n", BoxText(box).c_str());
    return EXIT_FAILED;
}

int OpenPorts(const Target& target, int argc, char** argv)
{
    OpenRequest request;
    int status = ParseOpenRequest(argc, argv, &request);
    if (status != EXIT_OK)
        return status;
    HWND dialog = FindDialog(target, OPEN_PORTS_TITLE);
    if (!dialog) {
        PostMessageA(target.frame, WM_COMMAND, CMD_OPEN_PORTS, 0);
        dialog = WaitForDialog(target, OPEN_PORTS_TITLE);
    }
    if (!dialog)
        return Fail("the Open Ports dialog did not appear within %d ms", APPEAR_TIMEOUT_MS);
    status = FillOpenPortsDialog(dialog, request);
    if (status != EXIT_OK)
        return status;
    // OK opens the ports and may show error boxes, so it is posted, not sent.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, IDOK));
    if (!WaitUntilHidden(dialog))
        return Fail("the Open Ports dialog did not close after OK");
    return ReportOpenedRun(target, request);
}

static int ListPorts(const Target& target)
{
    HWND active = ActivePortWindow(target);
    for (HWND window : ListPortWindows(target)) {
        char title[64];
        GetWindowTextA(window, title, sizeof title);
        printf("%s%s\n", title, window == active ? " *" : "");
    }
    return EXIT_OK;
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

static int PrintBoxes(const Target& target, int argc, char** argv)
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

static int DismissBoxes(const Target& target, int argc, char** argv)
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

static int ResolvePortWindow(const Target& target, HWND chosen, HWND* window)
{
    *window = chosen ? chosen : ActivePortWindow(target);
    if (!*window)
        return Fail("no port window is open in Tarnwick");
    return EXIT_OK;
}

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

static int TypeText(HWND window, int argc, char** argv)
{
    if (argc != 1)
        return UsageError("type takes one TEXT argument");
    for (unsigned char c : Unescape(argv[0]))
        PostMessageA(window, WM_CHAR, c, 1);
    return EXIT_OK;
}

static int PressKey(HWND window, int argc, char** argv)
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

static int Click(HWND window, int argc, char** argv)
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

// A rectangle of the port window's client area as it is on the screen, as
// 0xRRGGBB values. Another process's child window cannot be read directly
// under Wine, so the same pixels are copied from its top-level window.
static int CaptureClient(HWND window, int left, int top, int width, int height,
                         std::vector<DWORD>* pixels)
{
    HWND topLevel = GetAncestor(window, GA_ROOT);
    RECT frame;
    POINT origin = {left, top};
    if (!topLevel || !GetWindowRect(topLevel, &frame) || !ClientToScreen(window, &origin))
        return Fail("cannot locate the port window on the screen");
    HDC source = GetWindowDC(topLevel);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, source, origin.x - frame.left,
                         origin.y - frame.top, SRCCOPY);
    GdiFlush();
    pixels->assign(width * height, 0);
    if (copied) {
        const DWORD* data = (const DWORD*)bits;
        for (int i = 0; i < width * height; i++)
            (*pixels)[i] = data[i] & 0xFFFFFF;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(topLevel, source);
    if (!copied)
        return Fail("could not copy the port window from the screen: error %lu", GetLastError());
    return EXIT_OK;
}

static const char* LampState(const std::vector<DWORD>& pixels, int stride, int left, int right,
                             DWORD litColour)
{
    int lit = 0, dark = 0, all = 0;
    for (int y = LAMP_TOP + 1; y < LAMP_BOTTOM - 1; y++) {
        for (int x = left + 1; x < right - 1; x++) {
            DWORD colour = pixels[y * stride + x];
            lit += colour == litColour;
            dark += colour == DARK_LAMP_RGB;
            all++;
        }
    }
    if (lit * 4 >= all)
        return "lit";
    if (dark * 4 >= all)
        return "dark";
    return "absent";
}

static int PrintLamps(HWND window)
{
    const int width = 570;
    std::vector<DWORD> pixels;
    int status = CaptureClient(window, 0, 0, width, LAMP_BOTTOM + 1, &pixels);
    if (status != EXIT_OK)
        return status;
    int x = 5;
    for (int i = 0; i < 7; i++) {
        int lampWidth = 10 * (int)strlen(SignalLabels[i]);
        printf("%s%s=%s", i ? " " : "", SignalLabels[i],
               LampState(pixels, width, x, x + lampWidth, LIT_SIGNAL_RGB));
        x += lampWidth + 2 + (i == 3 || i == 6 ? 5 : 0);
    }
    printf("\n");
    x = 60;
    for (int i = 0; i < 7; i++) {
        int lampWidth = 10 * (int)strlen(HoldLabels[i]);
        const char* state = LampState(pixels, width, x + HOLD_ROW_OFFSET,
                                      x + HOLD_ROW_OFFSET + lampWidth, LIT_HOLD_RGB);
        printf("%s%s=%s", i ? " " : "", HoldLabels[i], strcmp(state, "lit") ? "off" : "on");
        x += lampWidth + 2;
    }
    printf("\n");
    return EXIT_OK;
}

static int PrintPixel(HWND window, int argc, char** argv)
{
    long x = 0, y = 0;
    if (argc != 2 || !ParseNumber(argv[0], &x) || !ParseNumber(argv[1], &y))
        return UsageError("pixel takes X Y");
    std::vector<DWORD> pixels;
    int status = CaptureClient(window, (int)x, (int)y, 1, 1, &pixels);
    if (status == EXIT_OK)
        printf("%06lX\n", (unsigned long)pixels[0]);
    return status;
}

// The port window paints each text row as a white band from x 10 with the
// text on it in the default font; the same drawing in a memory bitmap gives
// the exact pixels the row must show.
static std::vector<DWORD> DrawExpectedRow(const std::string& text, int width)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -TEXT_ROW_PITCH;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HGDIOBJ oldFont = SelectObject(memory, GetStockObject(SYSTEM_FONT));
    RECT band = {0, 0, width, TEXT_ROW_PITCH};
    FillRect(memory, &band, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(0, 0, 0));
    TextOutA(memory, TEXT_LEFT, 0, text.data(), (int)text.size());
    GdiFlush();
    std::vector<DWORD> pixels(width * TEXT_ROW_PITCH);
    const DWORD* data = (const DWORD*)bits;
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = data[i] & 0xFFFFFF;
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

static int OverlapFromRowAbove()
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ oldFont = SelectObject(memory, GetStockObject(SYSTEM_FONT));
    TEXTMETRICA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    GetTextMetricsA(memory, &metrics);
    SelectObject(memory, oldFont);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    int overlap = metrics.tmHeight - TEXT_ROW_PITCH;
    return overlap < 0 ? 0 : (overlap > TEXT_ROW_PITCH / 2 ? TEXT_ROW_PITCH / 2 : overlap);
}

static void WriteImage(const std::string& path, const std::vector<DWORD>& pixels, int width,
                       int height)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (DWORD colour : pixels) {
        unsigned char rgb[3] = {(unsigned char)(colour >> 16), (unsigned char)(colour >> 8),
                                (unsigned char)colour};
        fwrite(rgb, 1, 3, file);
    }
    fclose(file);
}

// Rows are painted from the bottom up in a font taller than the row pitch, so
// the row above may reach down into a band's top lines; those are skipped.
static int CountDifferences(const std::vector<DWORD>& shown, const std::vector<DWORD>& expected,
                            int width, int* first)
{
    int differ = 0;
    *first = -1;
    for (int y = OverlapFromRowAbove(); y < TEXT_ROW_PITCH; y++) {
        for (int x = TEXT_LEFT; x < width; x++) {
            if (shown[y * width + x] != expected[y * width + x]) {
                if (*first < 0)
                    *first = x;
                differ++;
            }
        }
    }
    return differ;
}

static int CheckRow(HWND window, int argc, char** argv)
{
    long row = -1;
    const char* dump = nullptr;
    if (argc >= 2 && strcmp(argv[argc - 2], "--dump") == 0) {
        dump = argv[argc - 1];
        argc -= 2;
    }
    if (argc < 1 || argc > 2 || (argc == 2 && !ParseNumber(argv[1], &row)))
        return UsageError("check-row takes TEXT [ROW] [--dump PATH]");
    RECT client;
    GetClientRect(window, &client);
    int rows = client.bottom / TEXT_ROW_PITCH - 1;
    if (rows < 1)
        return Fail("the port window is too small to show a text row");
    if (row < 0)
        row = rows;
    if (row < 1 || row > rows)
        return Fail("row %ld is not shown; the window shows rows 1 to %d", row, rows);
    int width = client.right;
    std::vector<DWORD> expected = DrawExpectedRow(argv[0], width);
    int differ = 0, first = -1;
    for (long waited = 0;; waited += WAIT_STEP_MS) {
        std::vector<DWORD> shown;
        int status =
            CaptureClient(window, 0, TEXT_ROW_PITCH * (int)row + 4, width, TEXT_ROW_PITCH, &shown);
        if (status != EXIT_OK)
            return status;
        if (dump) {
            WriteImage(std::string(dump) + "-shown.ppm", shown, width, TEXT_ROW_PITCH);
            WriteImage(std::string(dump) + "-expected.ppm", expected, width, TEXT_ROW_PITCH);
        }
        differ = CountDifferences(shown, expected, width, &first);
        if (!differ || waited >= WaitMs)
            break;
        Sleep(WAIT_STEP_MS);
    }
    if (differ) {
        printf("row %ld differs from \"%s\" in %d pixels, first at x %d\n", row, argv[0], differ,
               first);
        return EXIT_FAILED;
    }
    printf("row %ld shows \"%s\"\n", row, argv[0]);
    return EXIT_OK;
}

static const NamedCommand* LookUpCommand(const char* word, NamedCommand* numbered)
{
    for (const NamedCommand& command : Commands) {
        if (strcmp(command.name, word) == 0)
            return &command;
    }
    long id = 0;
    if (!ParseNumber(word, &id) || id < 1 || id > 0xFFFF)
        return nullptr;
    for (const NamedCommand& command : Commands) {
        if (command.id == id)
            return &command;
    }
    // An identifier this tool does not know is posted: it might open anything.
    *numbered = NamedCommand{"command", (int)id, 0, 1};
    return numbered;
}

static int RunPortVerb(const Target& target, HWND chosen, const char* verb, int argc, char** argv)
{
    HWND window = nullptr;
    int status = ResolvePortWindow(target, chosen, &window);
    if (status != EXIT_OK)
        return status;
    if (strcmp(verb, "type") == 0)
        return TypeText(window, argc, argv);
    if (strcmp(verb, "key") == 0)
        return PressKey(window, argc, argv);
    if (strcmp(verb, "click") == 0)
        return Click(window, argc, argv);
    if (strcmp(verb, "lamps") == 0)
        return argc ? UsageError("lamps takes no arguments") : PrintLamps(window);
    if (strcmp(verb, "pixel") == 0)
        return PrintPixel(window, argc, argv);
    return CheckRow(window, argc, argv);
}

static int IsPortVerb(const char* verb)
{
    static const char* const verbs[] = {"type", "key", "click", "lamps", "pixel", "check-row"};
    for (const char* name : verbs) {
        if (strcmp(name, verb) == 0)
            return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    int next = 1;
    const char* portName = nullptr;
    while (next < argc &&
           (strcmp(argv[next], "--port") == 0 || strcmp(argv[next], "--wait") == 0)) {
        if (next + 1 >= argc)
            return UsageError("%s needs a value", argv[next]);
        if (strcmp(argv[next], "--port") == 0)
            portName = argv[next + 1];
        else if (!ParseNumber(argv[next + 1], &WaitMs) || WaitMs < 0)
            return UsageError("--wait needs a time in milliseconds");
        next += 2;
    }
    if (next >= argc || strcmp(argv[next], "help") == 0 || strcmp(argv[next], "--help") == 0 ||
        strcmp(argv[next], "-h") == 0) {
        fputs(UsageText, next >= argc ? stderr : stdout);
        return next >= argc ? EXIT_USAGE : EXIT_OK;
    }
    const char* verb = argv[next];
    int restCount = argc - next - 1;
    char** rest = argv + next + 1;

    NamedCommand numbered;
    const NamedCommand* command = LookUpCommand(verb, &numbered);
    int known = command || IsPortVerb(verb) || strcmp(verb, "open") == 0 ||
                strcmp(verb, "activate") == 0 || strcmp(verb, "ports") == 0 ||
                strcmp(verb, "quit") == 0 || strcmp(verb, "boxes") == 0 ||
                strcmp(verb, "dismiss") == 0 || strcmp(verb, "status") == 0 ||
                strcmp(verb, "screen") == 0 || strcmp(verb, "reset-counters") == 0 ||
                strcmp(verb, "burnin") == 0;
    if (!known)
        return UsageError("unknown command %s", verb);
    if (command && restCount)
        return UsageError("%s takes no arguments", verb);

    if (strcmp(verb, "burnin") == 0 && CheckBurninArguments(restCount, rest) != EXIT_OK)
        return EXIT_USAGE;
    Target target;
    int status = FindTarget(&target);
    if (status != EXIT_OK)
        return status;
    HWND chosen = nullptr;
    if (portName) {
        status = ActivatePort(target, portName, &chosen);
        if (status != EXIT_OK)
            return status;
    }

    if (command)
        return SendCommand(target, *command);
    if (IsPortVerb(verb))
        return RunPortVerb(target, chosen, verb, restCount, rest);
    if (strcmp(verb, "open") == 0)
        return OpenPorts(target, restCount, rest);
    if (strcmp(verb, "status") == 0)
        return PrintStatus(target, restCount, rest);
    if (strcmp(verb, "screen") == 0)
        return PrintScreen(target, restCount, rest);
    if (strcmp(verb, "reset-counters") == 0)
        return ResetCounters(target, restCount, rest);
    if (strcmp(verb, "burnin") == 0)
        return RunBurnin(target, restCount, rest);
    if (strcmp(verb, "activate") == 0) {
        if (restCount != 1)
            return UsageError("activate takes one port name, e.g. activate COM5");
        return ActivatePort(target, rest[0], &chosen);
    }
    if (restCount && strcmp(verb, "boxes") != 0 && strcmp(verb, "dismiss") != 0)
        return UsageError("%s takes no arguments", verb);
    if (strcmp(verb, "ports") == 0)
        return ListPorts(target);
    if (strcmp(verb, "boxes") == 0)
        return PrintBoxes(target, restCount, rest);
    if (strcmp(verb, "dismiss") == 0)
        return DismissBoxes(target, restCount, rest);
    PostMessageA(target.frame, WM_CLOSE, 0, 0);
    return EXIT_OK;
}
