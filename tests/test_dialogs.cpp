// The Open Ports and COM Settings dialogs, driven through their real
// templates and procedures against the simulated adapter.
#include "app/commands.h"
#include "app/frame.h"
#include "app/state.h"
#include "dialogs/dialogs.h"
#include "dialogs/line_settings.h"
#include "port/port_record.h"
#include "sim/sim.h"
#include "tests/shell_helpers.h"
#include "tests/test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<std::string> Texts;

static std::string ControlText(HWND dialog, int control)
{
    char text[128];
    GetDlgItemTextA(dialog, control, text, sizeof text);
    return text;
}

static Texts ListItems(HWND dialog, int control)
{
    Texts items;
    int count = (int)SendDlgItemMessageA(dialog, control, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char text[64];
        SendDlgItemMessageA(dialog, control, CB_GETLBTEXT, i, (LPARAM)text);
        items.push_back(text);
    }
    return items;
}

static int Selection(HWND dialog, int control)
{
    return (int)SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0);
}

static void Select(HWND dialog, int control, int index)
{
    SendDlgItemMessageA(dialog, control, CB_SETCURSEL, (WPARAM)index, 0);
}

static void Check(HWND dialog, int control)
{
    SendDlgItemMessageA(dialog, control, BM_SETCHECK, BST_CHECKED, 0);
}

static void Press(HWND dialog, int button)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, button));
}

static int CreateFileCalls()
{
    return Sim::CallCount(Sim::CALL_CREATE_FILE);
}

static Texts MissingPortBoxes(int first, int count)
{
    Texts texts;
    for (int n = first; n < first + count; n++) {
        texts.push_back("Error from CreateFile: 2 COM" + std::to_string(n) + " 0");
        texts.push_back("Port failed to open.");
    }
    return texts;
}

static Texts OpenPortNames()
{
    Texts names;
    for (PortRecord* p = PortListHead; p; p = p->next)
        names.push_back(p->name);
    return names;
}

// Runs a dialog modally, as the program does, and acts on it from inside
// its message loop as a user would.
static std::function<void(HWND)> ModalAction;
static const char* ModalCaption;
static int ModalActed;
static UINT_PTR ModalTimers[2];

static void CALLBACK ActOnModalDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    for (UINT_PTR& t : ModalTimers)
        if (t == timer)
            t = 0;
    HWND dialog = FindWindowA("#32770", ModalCaption);
    if (!dialog)
        return;
    ModalActed++;
    if (ModalActed == 1)
        ModalAction(dialog);
    else
        EndDialog(dialog, -2); // the action did not close it
}

static void ArmModalAction(const char* caption, std::function<void(HWND)> action)
{
    ModalCaption = caption;
    ModalAction = action;
    ModalActed = 0;
    ModalTimers[0] = SetTimer(nullptr, 0, 0, ActOnModalDialog);
    // Only if the action failed to close the dialog, so the test fails
    // instead of hanging.
    ModalTimers[1] = SetTimer(nullptr, 0, 500, ActOnModalDialog);
}

static void DisarmModalAction()
{
    for (UINT_PTR& timer : ModalTimers) {
        if (timer)
            KillTimer(nullptr, timer);
        timer = 0;
    }
}

class DialogTest : public testing::Test
{
  protected:
    SimulatedAdapter sim;
    BoxRecorder recorder;

    void SetUp() override
    {
        ResetProgramState();
        StartFrameOnce();
        ASSERT_TRUE(IsWindow(MdiClient));
    }

    void TearDown() override
    {
        DisarmModalAction();
        for (HWND d : dialogs)
            DestroyWindow(d);
        CloseAllPortWindows();
        ResetProgramState();
    }

    HWND OpenPortsDialog()
    {
        HWND d = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_OPEN_PORTS),
                                    FrameWindow, OpenPortsDlgProc, 0);
        dialogs.push_back(d);
        return d;
    }

    HWND ComSettingsDialog(PortRecord* port)
    {
        SettingsTargetPort = port;
        HWND d = CreateDialogParamA(GetModuleHandleA(nullptr), "SETTINGSDLGBOX", port->window,
                                    ComSettingsDlgProc, 0);
        dialogs.push_back(d);
        return d;
    }

    // From COM<from> with a typed or chosen quantity, the rest as given.
    void RunOpenPorts(int from, const char* quantity, std::function<void(HWND)> adjust = nullptr)
    {
        HWND d = OpenPortsDialog();
        ASSERT_TRUE(d);
        Select(d, IDC_FROM_PORT, from - 1);
        if (quantity)
            SetDlgItemTextA(d, IDC_QUANTITY, quantity);
        if (adjust)
            adjust(d);
        Press(d, IDOK);
    }

    PortRecord* OpenDefaultPort(int number)
    {
        Sim::AddPort(number);
        RunOpenPorts(number, nullptr);
        return FindOpenPort(("COM" + std::to_string(number)).c_str());
    }

    std::vector<HWND> dialogs;
};

// --- the Open Ports template and its lists ---

typedef DialogTest OpenPortsTemplate;

// The dialog templates as stored in the resources, read item by item.
enum Kind {
    DEF_BUTTON,
    BUTTON,
    GROUP_LABEL,
    LABEL,
    RIGHT_LABEL,
    GROUP_BOX,
    CHECK_BOX,
    LIST,
    COMBO
};

struct Item {
    int id;
    Kind kind;
    std::string text;
    int x, y, w, h;
};

struct Template {
    DWORD style;
    int x, y, w, h;
    std::string caption, font;
    int pointSize;
    std::vector<Item> items;
    std::vector<DWORD> styles;
    std::vector<WORD> classes;
};

static std::string ReadString(const WORD*& p)
{
    std::string s;
    if (*p == 0xFFFF) {
        p += 2;
        return s;
    }
    while (*p)
        s += (char)*p++;
    p++;
    return s;
}

static Kind KindOf(WORD atom, DWORD style)
{
    if (atom == 0x85)
        return (style & 3) == CBS_DROPDOWNLIST ? LIST : COMBO;
    if (atom == 0x82) {
        if ((style & 0xF) == SS_RIGHT)
            return RIGHT_LABEL;
        return (style & WS_GROUP) ? GROUP_LABEL : LABEL;
    }
    switch (style & 0xF) {
    case BS_DEFPUSHBUTTON:
        return DEF_BUTTON;
    case BS_GROUPBOX:
        return GROUP_BOX;
    case BS_AUTOCHECKBOX:
        return CHECK_BOX;
    default:
        return BUTTON;
    }
}

static Template LoadTemplate(const char* name)
{
    Template t = {};
    HRSRC found = FindResourceA(nullptr, name, (LPCSTR)RT_DIALOG);
    if (!found)
        return t;
    const BYTE* base = (const BYTE*)LockResource(LoadResource(nullptr, found));
    const DLGTEMPLATE* head = (const DLGTEMPLATE*)base;
    t.style = head->style;
    t.x = head->x;
    t.y = head->y;
    t.w = head->cx;
    t.h = head->cy;
    const WORD* p = (const WORD*)(head + 1);
    ReadString(p); // menu
    ReadString(p); // class
    t.caption = ReadString(p);
    if (t.style & DS_SETFONT) {
        t.pointSize = *p++;
        t.font = ReadString(p);
    }
    for (int i = 0; i < head->cdit; i++) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)p;
        p = (const WORD*)(item + 1);
        WORD atom = p[0] == 0xFFFF ? p[1] : 0;
        ReadString(p);
        std::string text = ReadString(p);
        p += 1 + *p / 2; // creation data
        t.items.push_back({(short)item->id, KindOf(atom, item->style), text, item->x, item->y,
                           item->cx, item->cy});
        t.styles.push_back(item->style);
        t.classes.push_back(atom);
    }
    return t;
}

static void ExpectItems(const Template& t, const std::vector<Item>& want)
{
    ASSERT_EQ(want.size(), t.items.size());
    for (size_t i = 0; i < want.size(); i++) {
        const Item& w = want[i];
        const Item& g = t.items[i];
        EXPECT_EQ(w.id, g.id) << "item " << i + 1;
        EXPECT_EQ(w.kind, g.kind) << "item " << i + 1;
        EXPECT_EQ(w.text, g.text) << "item " << i + 1;
        EXPECT_EQ((std::vector<int>{w.x, w.y, w.w, w.h}), (std::vector<int>{g.x, g.y, g.w, g.h}))
            << "item " << i + 1;
        DWORD style = t.styles[i];
        if (w.kind == LIST || w.kind == COMBO) {
            EXPECT_EQ(0x85, t.classes[i]);
            EXPECT_EQ(0u, style & CBS_SORT) << "item " << i + 1;
            EXPECT_EQ((DWORD)(WS_VSCROLL | WS_TABSTOP), style & (WS_VSCROLL | WS_TABSTOP))
                << "item " << i + 1;
        }
        if (w.kind == DEF_BUTTON || w.kind == BUTTON) {
            EXPECT_EQ((DWORD)WS_TABSTOP, style & WS_TABSTOP) << "item " << i + 1;
        }
        if (w.kind == LABEL || w.kind == GROUP_LABEL) {
            EXPECT_EQ((DWORD)SS_CENTER, style & 0xF) << "item " << i + 1;
        }
        EXPECT_EQ((DWORD)(WS_CHILD | WS_VISIBLE), style & (WS_CHILD | WS_VISIBLE));
    }
}

TEST_F(OpenPortsTemplate, TemplateIsAsDesigned)
{
    Template t = LoadTemplate(MAKEINTRESOURCEA(IDD_OPEN_PORTS));
    EXPECT_EQ("Open Ports", t.caption);
    EXPECT_EQ("MS Sans Serif", t.font);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ((std::vector<int>{0, 0, 174, 161}), (std::vector<int>{t.x, t.y, t.w, t.h}));
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME),
              t.style & ~(DWORD)DS_SETFONT);
    ExpectItems(t, {
                       {IDOK, DEF_BUTTON, "OK", 84, 141, 39, 12},
                       {IDCANCEL, BUTTON, "Cancel", 129, 141, 39, 12},
                       {-1, GROUP_LABEL, "From", 12, 16, 24, 9},
                       {-1, GROUP_LABEL, "Quantity", 87, 16, 30, 8},
                       {-1, GROUP_BOX, "&COM Options:", 6, 33, 90, 101},
                       {-1, LABEL, "&Baud Rate", 12, 51, 36, 7},
                       {-1, LABEL, "&Data Bits", 12, 72, 35, 7},
                       {-1, LABEL, "P&arity", 12, 93, 36, 7},
                       {IDC_PARITY, LIST, "", 51, 90, 39, 69},
                       {-1, LABEL, "&Stop Bits", 12, 114, 36, 7},
                       {IDC_STOP_BITS, LIST, "", 51, 111, 39, 51},
                       {-1, RIGHT_LABEL, "&RTS:", 105, 48, 18, 7},
                       {IDC_RTS, LIST, "", 126, 45, 35, 66},
                       {-1, RIGHT_LABEL, "&DTR:", 105, 63, 18, 7},
                       {IDC_DTR, LIST, "", 126, 61, 35, 77},
                       {IDC_RX_XONXOFF, CHECK_BOX, "XON/XOFF", 111, 78, 54, 7},
                       {IDC_DSR_FLOW, CHECK_BOX, "DSR", 111, 113, 36, 7},
                       {IDC_TX_XONXOFF, CHECK_BOX, "XON/XOFF", 111, 123, 54, 7},
                       {-1, GROUP_BOX, "Rec. Flow Control", 99, 33, 69, 57},
                       {-1, GROUP_BOX, "Send Flow Control", 99, 92, 69, 42},
                       {IDC_CTS_FLOW, CHECK_BOX, "CTS", 111, 103, 39, 7},
                       {IDC_BAUD, LIST, "", 51, 48, 39, 102},
                       {IDC_DATA_BITS, LIST, "", 51, 69, 39, 51},
                       {IDC_FROM_PORT, LIST, "", 39, 14, 42, 81},
                       {IDC_QUANTITY, COMBO, "", 123, 14, 39, 84},
                       {-1, GROUP_BOX, "COM Region", 6, 3, 162, 28},
                   });
}

TEST_F(OpenPortsTemplate, LiveDialogHasTheControlsInTabOrder)
{
    HWND d = OpenPortsDialog();
    ASSERT_TRUE(d);
    char caption[32];
    GetWindowTextA(d, caption, sizeof caption);
    EXPECT_STREQ("Open Ports", caption);
    Template t = LoadTemplate(MAKEINTRESOURCEA(IDD_OPEN_PORTS));
    HWND child = GetWindow(d, GW_CHILD);
    for (const Item& item : t.items) {
        ASSERT_TRUE(child);
        EXPECT_EQ(item.id, (int)(short)GetDlgCtrlID(child));
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child);
}

TEST_F(OpenPortsTemplate, ComSettingsTemplateIsAsDesigned)
{
    Template t = LoadTemplate("SETTINGSDLGBOX");
    EXPECT_EQ("COM Settings", t.caption);
    EXPECT_EQ("Helv", t.font);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ((std::vector<int>{57, 30, 175, 129}), (std::vector<int>{t.x, t.y, t.w, t.h}));
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION), t.style & ~(DWORD)DS_SETFONT);
    ExpectItems(t, {
                       {IDOK, DEF_BUTTON, "OK", 84, 111, 39, 12},
                       {IDCANCEL, BUTTON, "Cancel", 129, 111, 39, 12},
                       {-1, GROUP_BOX, "&COM Options:", 6, 2, 90, 101},
                       {-1, LABEL, "&Baud Rate", 12, 20, 36, 7},
                       {-1, LABEL, "&Data Bits", 12, 41, 35, 7},
                       {-1, LABEL, "P&arity", 12, 62, 36, 7},
                       {IDC_PARITY, LIST, "", 51, 59, 39, 69},
                       {-1, LABEL, "&Stop Bits", 12, 83, 36, 7},
                       {IDC_STOP_BITS, LIST, "", 51, 81, 39, 51},
                       {-1, RIGHT_LABEL, "&RTS:", 105, 17, 18, 7},
                       {IDC_RTS, LIST, "", 126, 14, 35, 66},
                       {-1, RIGHT_LABEL, "&DTR:", 105, 33, 18, 7},
                       {IDC_DTR, LIST, "", 126, 30, 35, 77},
                       {IDC_RX_XONXOFF, CHECK_BOX, "XON/XOFF", 111, 47, 54, 7},
                       {IDC_DSR_FLOW, CHECK_BOX, "DSR", 111, 82, 36, 7},
                       {IDC_TX_XONXOFF, CHECK_BOX, "XON/XOFF", 111, 92, 54, 7},
                       {-1, GROUP_BOX, "Rec. Flow Control", 99, 2, 69, 57},
                       {-1, GROUP_BOX, "Send Flow Control", 99, 62, 69, 42},
                       {IDC_CTS_FLOW, CHECK_BOX, "CTS", 111, 73, 39, 7},
                       {IDC_BAUD, LIST, "", 51, 17, 39, 102},
                       {IDC_DATA_BITS, LIST, "", 51, 38, 39, 51},
                   });
}

TEST_F(OpenPortsTemplate, ListsHoldTheirItemsAndDefaults)
{
    HWND d = OpenPortsDialog();
    Texts baud = ListItems(d, IDC_BAUD);
    EXPECT_EQ((Texts{"300", "600", "1200", "2400", "3600", "4800", "7200", "9600", "19200", "38400",
                     "57600", "115200", "230400", "460800", "921600"}),
              baud);
    EXPECT_EQ("9600", ControlText(d, IDC_BAUD));
    EXPECT_EQ(0u, BaudRateList[baud.size()]); // the list's end mark
    Texts from = ListItems(d, IDC_FROM_PORT);
    ASSERT_EQ(255u, from.size());
    EXPECT_EQ("COM1", from[0]);
    EXPECT_EQ("COM100", from[99]);
    EXPECT_EQ("COM255", from[254]);
    EXPECT_EQ(4, Selection(d, IDC_FROM_PORT));
    EXPECT_EQ((Texts{"1 Ports", "2 Ports", "4 Ports", "8 Ports", "16 Ports", "24 Ports", "32 Ports",
                     "64 Ports"}),
              ListItems(d, IDC_QUANTITY));
    EXPECT_EQ("1 Ports", ControlText(d, IDC_QUANTITY));
    EXPECT_EQ((Texts{"7 bits", "8 bits"}), ListItems(d, IDC_DATA_BITS));
    EXPECT_EQ(1, Selection(d, IDC_DATA_BITS));
    EXPECT_EQ((Texts{"None", "Odd", "Even", "Mark", "Space"}), ListItems(d, IDC_PARITY));
    EXPECT_EQ(0, Selection(d, IDC_PARITY));
    EXPECT_EQ((Texts{"1", "1.5", "2"}), ListItems(d, IDC_STOP_BITS));
    EXPECT_EQ(0, Selection(d, IDC_STOP_BITS));
    EXPECT_EQ((Texts{"Clear", "Set", "Auto", "Toggle"}), ListItems(d, IDC_RTS));
    EXPECT_EQ(1, Selection(d, IDC_RTS));
    EXPECT_EQ((Texts{"Clear", "Set", "Auto"}), ListItems(d, IDC_DTR));
    EXPECT_EQ(1, Selection(d, IDC_DTR));
    for (int box : {IDC_RX_XONXOFF, IDC_CTS_FLOW, IDC_DSR_FLOW, IDC_TX_XONXOFF})
        EXPECT_EQ(BST_UNCHECKED, (int)IsDlgButtonChecked(d, box));
}

// --- opening a run of ports ---

typedef DialogTest OpenPorts;

TEST_F(OpenPorts, DefaultsOpenCom5AloneAt9600_8N1)
{
    Sim::AddPorts(1, 10);
    RunOpenPorts(5, nullptr);
    EXPECT_EQ(Texts{}, recorder.Texts());
    ASSERT_EQ(Texts{"COM5"}, OpenPortNames());
    EXPECT_EQ(1, CreateFileCalls());
    PortRecord* port = PortListHead;
    EXPECT_EQ(port, SettingsTargetPort);
    ASSERT_TRUE(IsWindow(port->window));
    EXPECT_EQ(MdiClient, GetParent(port->window));
    DCB dcb = Sim::CommState(5);
    EXPECT_EQ(9600u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ((DWORD)RTS_CONTROL_ENABLE, dcb.fRtsControl);
    EXPECT_EQ((DWORD)DTR_CONTROL_ENABLE, dcb.fDtrControl);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    EXPECT_EQ(0u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0u, dcb.fOutxDsrFlow);
    EXPECT_EQ(SIGNAL_RTS | SIGNAL_DTR, port->outputSignals);
}

TEST_F(OpenPorts, OpeningAPortEnablesTheSettingsAndWindowMenus)
{
    EnableMenuItem(AppMenu, 1, MF_BYPOSITION | MF_DISABLED);
    EnableMenuItem(AppMenu, 2, MF_BYPOSITION | MF_DISABLED);
    RunOpenPorts(5, nullptr); // no such port: nothing is enabled
    EXPECT_TRUE(GetMenuState(AppMenu, 1, MF_BYPOSITION) & MF_DISABLED);
    Sim::AddPort(6);
    RunOpenPorts(6, nullptr);
    EXPECT_FALSE(GetMenuState(AppMenu, 1, MF_BYPOSITION) & MF_DISABLED);
    EXPECT_FALSE(GetMenuState(AppMenu, 2, MF_BYPOSITION) & MF_DISABLED);
}

TEST_F(OpenPorts, RunFromCom250TriesCom250To257InOrder)
{
    RunOpenPorts(250, nullptr, [](HWND d) { Select(d, IDC_QUANTITY, 3); });
    EXPECT_EQ(MissingPortBoxes(250, 8), recorder.Texts());
    EXPECT_EQ(8, CreateFileCalls());
    EXPECT_EQ(nullptr, PortListHead);
}

TEST_F(OpenPorts, TypedQuantityIsReadAsANumberOfPortsFromItsStart)
{
    struct Case {
        std::string quantity;
        int tried;
    };
    const Case cases[] = {
        {"5", 5},
        {"-5", 0},
        {"0", 0},
        {"", 0},
        {" ", 0},
        {"-99999999999999999999", 0},
        {std::string(56, '0') + "3", 3}, // read up to 57 characters
        {std::string(57, '0') + "3", 0}, // read as 57 zeros
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("quantity \"" + c.quantity + "\"");
        recorder.boxes.clear();
        int callsBefore = CreateFileCalls();
        RunOpenPorts(5, c.quantity.c_str());
        EXPECT_EQ(c.tried, CreateFileCalls() - callsBefore);
        EXPECT_EQ(MissingPortBoxes(5, c.tried), recorder.Texts());
    }
}

TEST_F(OpenPorts, CancelAndAQuantityWithoutANumberOpenNothingAndCloseTheDialog)
{
    Sim::AddPort(5);
    struct Case {
        const char* name;
        void (*action)(HWND);
    };
    const Case cases[] = {
        {"Cancel", [](HWND d) { Press(d, IDCANCEL); }},
        {"quantity abc",
         [](HWND d) {
             SetDlgItemTextA(d, IDC_QUANTITY, "abc");
             Press(d, IDOK);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ArmModalAction("Open Ports", c.action);
        INT_PTR result =
            DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_OPEN_PORTS),
                            FrameWindow, OpenPortsDlgProc, 0);
        DisarmModalAction();
        EXPECT_EQ(0, result);
        EXPECT_EQ(1, ModalActed);
        EXPECT_EQ(0, CreateFileCalls());
        EXPECT_EQ(Texts{}, recorder.Texts());
    }
}

TEST_F(OpenPorts, FrameCommandRunsTheDialogModally)
{
    Sim::AddPort(7);
    ArmModalAction("Open Ports", [](HWND d) {
        Select(d, IDC_FROM_PORT, 6);
        Press(d, IDOK);
    });
    SendMessageA(FrameWindow, WM_COMMAND, CMD_OPEN_PORTS, 0);
    EXPECT_EQ(1, ModalActed);
    EXPECT_EQ(Texts{"COM7"}, OpenPortNames());
}

TEST_F(OpenPorts, MissingPortsInARunGiveTwoBoxesEachInOrder)
{
    Sim::AddPort(3);
    Sim::AddPort(5);
    RunOpenPorts(3, nullptr, [](HWND d) { Select(d, IDC_QUANTITY, 2); });
    Texts expected = MissingPortBoxes(4, 1);
    Texts com6 = MissingPortBoxes(6, 1);
    expected.insert(expected.end(), com6.begin(), com6.end());
    EXPECT_EQ(expected, recorder.Texts());
    EXPECT_EQ((Texts{"COM5", "COM3"}), OpenPortNames());
    for (PortRecord* p = PortListHead; p; p = p->next) {
        EXPECT_TRUE(IsWindow(p->window));
        char title[16];
        GetWindowTextA(p->window, title, sizeof title);
        EXPECT_STREQ(p->name, title);
    }
}

TEST_F(OpenPorts, PortFailedBoxHasNoCaptionAndIsOwnedByTheFocus)
{
    std::vector<HWND> focusAtBox;
    recorder.onBox = [&](const ShownBox&) { focusAtBox.push_back(GetFocus()); };
    Sim::AddPort(5);
    RunOpenPorts(5, "2");
    ASSERT_EQ(2u, recorder.boxes.size());
    const ShownBox& box = recorder.boxes[1];
    EXPECT_EQ("Port failed to open.", box.text);
    EXPECT_EQ("(null)", box.caption);
    EXPECT_EQ((UINT)MB_OK, box.style);
    EXPECT_EQ(focusAtBox[1], box.owner);
}

TEST_F(OpenPorts, RecordOfAPortThatFailsIsFreedAtOnce)
{
    RecordWatch watch = {};
    int closedAtBox = -1;
    recorder.onBox = [&](const ShownBox& box) {
        if (box.text.rfind("Error from CreateFile:", 0) == 0) {
            ASSERT_TRUE(CurrentPort);
            WatchRecord(&watch, CurrentPort);
        } else {
            closedAtBox = watch.closed;
            EXPECT_EQ(nullptr, CurrentPort);
        }
    };
    RunOpenPorts(9, nullptr);
    UnwatchRecord(&watch);
    EXPECT_EQ(1, closedAtBox);
    EXPECT_EQ(nullptr, PortListHead);
}

// Lets the MDI client create `allowed` windows and refuses the rest, keeping
// a watch on each refused record.
static WNDPROC RealMdiClientProc;
static int WindowsAllowed;
static RecordWatch RefusedWatch;
static LRESULT CALLBACK RefusingMdiClient(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MDICREATE && WindowsAllowed-- <= 0) {
        WatchRecord(&RefusedWatch, CurrentPort);
        return 0;
    }
    return CallWindowProcA(RealMdiClientProc, window, message, wParam, lParam);
}

class OpenPortsWindowRefused : public DialogTest
{
  protected:
    void Refuse(int allowed)
    {
        WindowsAllowed = allowed;
        RefusedWatch = RecordWatch{};
        RealMdiClientProc =
            (WNDPROC)SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RefusingMdiClient);
    }
    void TearDown() override
    {
        if (RealMdiClientProc)
            SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RealMdiClientProc);
        RealMdiClientProc = nullptr;
        UnwatchRecord(&RefusedWatch);
        DialogTest::TearDown();
    }
};

TEST_F(OpenPortsWindowRefused, PortIsClosedAndFreedBeforeTheBoxAndTheRunStops)
{
    Sim::AddPorts(5, 3);
    Refuse(1);
    bool com6OpenAtBox = true;
    Texts listAtBox;
    recorder.onBox = [&](const ShownBox&) {
        com6OpenAtBox = Sim::IsOpen(6);
        listAtBox = OpenPortNames();
    };
    RunOpenPorts(5, "3");
    ASSERT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ("Port No Open.", recorder.boxes[0].text);
    EXPECT_EQ("", recorder.boxes[0].caption);
    EXPECT_FALSE(com6OpenAtBox);
    EXPECT_EQ(Texts{"COM5"}, listAtBox);
    EXPECT_EQ(1, RefusedWatch.closed);
    EXPECT_EQ(nullptr, CurrentPort);
    EXPECT_EQ(2, CreateFileCalls()); // COM7 is not tried
    EXPECT_FALSE(Sim::IsOpen(7));
    ASSERT_TRUE(PortListHead);
    EXPECT_TRUE(IsWindow(PortListHead->window));
}

// --- hostile quantities ---

TEST_F(OpenPortsWindowRefused, HugeQuantityRunsUpwardFromTheFirstPort)
{
    // Without a stop this run would try every number up to 2147483647; the
    // refused window ends it where the test can see it.
    Sim::AddPort(9);
    Refuse(0);
    RunOpenPorts(5, "2147483647");
    Texts expected = MissingPortBoxes(5, 4);
    expected.push_back("Port No Open.");
    EXPECT_EQ(expected, recorder.Texts());
}

TEST_F(OpenPorts, HugeQuantityEndsAtTheHighestPortNumberWithoutWrapping)
{
    // The list offers COM1 to COM255; a first port near the top of the range
    // shows where a saturated quantity ends.
    Texts expected;
    for (const char* n : {"2147483644", "2147483645", "2147483646", "2147483647"}) {
        expected.push_back(std::string("Error from CreateFile: 2 COM") + n + " 0");
        expected.push_back("Port failed to open.");
    }
    const std::string quantities[] = {"2147483647", "99999999999999999999", std::string(57, '9'),
                                      std::string(200, '9')};
    for (const std::string& quantity : quantities) {
        int callsBefore = CreateFileCalls();
        recorder.boxes.clear();
        RunOpenPorts(5, quantity.c_str(), [](HWND d) {
            int index = (int)SendDlgItemMessageA(d, IDC_FROM_PORT, CB_ADDSTRING, 0,
                                                 (LPARAM) "COM2147483644");
            Select(d, IDC_FROM_PORT, index);
        });
        EXPECT_EQ(4, CreateFileCalls() - callsBefore) << quantity.size() << " digits";
        EXPECT_EQ(expected, recorder.Texts()) << quantity.size() << " digits";
    }
}

// --- the line settings applied to each new port ---

TEST_F(OpenPorts, RtsAndDtrChoicesSetTheModesAndTheOutputs)
{
    struct Case {
        const char* name;
        int rts, dtr; // list positions
        DWORD rtsControl, dtrControl;
        unsigned short outputs;
    };
    const Case cases[] = {
        {"RTS Clear", 0, 1, RTS_CONTROL_DISABLE, DTR_CONTROL_ENABLE, SIGNAL_DTR},
        {"RTS Toggle, DTR Clear", 3, 0, RTS_CONTROL_TOGGLE, DTR_CONTROL_DISABLE, SIGNAL_RTS},
        {"RTS Clear, DTR Auto", 0, 2, RTS_CONTROL_DISABLE, DTR_CONTROL_HANDSHAKE, SIGNAL_DTR},
    };
    int number = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sim::AddPort(++number);
        RunOpenPorts(number, nullptr, [&](HWND d) {
            Select(d, IDC_RTS, c.rts);
            Select(d, IDC_DTR, c.dtr);
        });
        ASSERT_TRUE(PortListHead);
        EXPECT_EQ(c.rtsControl, Sim::CommState(number).fRtsControl);
        EXPECT_EQ(c.dtrControl, Sim::CommState(number).fDtrControl);
        EXPECT_EQ(c.outputs, PortListHead->outputSignals);
    }
}

static DCB OddDcb()
{
    DCB dcb = Sim::CommState(0);
    dcb.BaudRate = 14400;
    dcb.ByteSize = 6;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fErrorChar = 1;
    dcb.fNull = 1;
    dcb.fAbortOnError = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.XonLim = 123;
    dcb.XoffLim = 77;
    dcb.XonChar = 0x21;
    dcb.XoffChar = 0x22;
    dcb.ErrorChar = 0x3F;
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0x7E;
    return dcb;
}

// Every member and bit other than the ten the dialogs set is as `want` has it.
static void ExpectSameApartFromTheTen(const DCB& want, DCB got)
{
    got.BaudRate = want.BaudRate;
    got.ByteSize = want.ByteSize;
    got.Parity = want.Parity;
    got.StopBits = want.StopBits;
    got.fRtsControl = want.fRtsControl;
    got.fDtrControl = want.fDtrControl;
    got.fOutX = want.fOutX;
    got.fInX = want.fInX;
    got.fOutxCtsFlow = want.fOutxCtsFlow;
    got.fOutxDsrFlow = want.fOutxDsrFlow;
    EXPECT_EQ(0, memcmp(&want, &got, sizeof(DCB)));
}

TEST_F(OpenPorts, OnlyTheTenSettingsChange)
{
    Sim::AddPort(5);
    DCB odd = OddDcb();
    Sim::SetCommStateOf(5, odd);
    RunOpenPorts(5, nullptr, [](HWND d) {
        Select(d, IDC_BAUD, 11);
        Select(d, IDC_DATA_BITS, 0);
        Select(d, IDC_PARITY, 2);
        Select(d, IDC_STOP_BITS, 1);
        Check(d, IDC_TX_XONXOFF);
        Check(d, IDC_CTS_FLOW);
    });
    EXPECT_EQ(Texts{}, recorder.Texts());
    DCB dcb = Sim::CommState(5);
    EXPECT_EQ(115200u, dcb.BaudRate);
    EXPECT_EQ(7, dcb.ByteSize);
    EXPECT_EQ(EVENPARITY, dcb.Parity);
    EXPECT_EQ(ONE5STOPBITS, dcb.StopBits);
    EXPECT_EQ((DWORD)RTS_CONTROL_ENABLE, dcb.fRtsControl);
    EXPECT_EQ((DWORD)DTR_CONTROL_ENABLE, dcb.fDtrControl);
    EXPECT_EQ(1u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    EXPECT_EQ(1u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0u, dcb.fOutxDsrFlow);
    ExpectSameApartFromTheTen(odd, dcb);
}

TEST_F(OpenPorts, FailedGetCommStateAppliesTheDialogToAZeroedDcb)
{
    Sim::AddPort(5);
    Sim::SetCommStateOf(5, OddDcb());
    Sim::FailCall(Sim::CALL_GET_COMM_STATE, ERROR_INVALID_HANDLE);
    RunOpenPorts(5, nullptr);
    EXPECT_EQ(Texts{"Error from GetCommState:6"}, recorder.Texts());
    ASSERT_TRUE(PortListHead);
    DCB zeroed = {};
    zeroed.DCBlength = sizeof(DCB);
    ExpectSameApartFromTheTen(zeroed, PortListHead->dcb);
    EXPECT_EQ(9600u, PortListHead->dcb.BaudRate);
    EXPECT_EQ(8, PortListHead->dcb.ByteSize);
}

TEST_F(OpenPorts, RefusedSettingsAreReportedAndThePortStays)
{
    Sim::AddPort(5);
    Sim::FailCall(Sim::CALL_SET_COMM_STATE, ERROR_INVALID_PARAMETER);
    RunOpenPorts(5, nullptr);
    EXPECT_EQ(Texts{"Error from SetCommState:87"}, recorder.Texts());
    ASSERT_TRUE(PortListHead);
    EXPECT_TRUE(IsWindow(PortListHead->window));
    EXPECT_TRUE(Sim::IsOpen(5));
}

// --- ApplyLineSettings on its own ---

typedef DialogTest LineSettings;

TEST_F(LineSettings, ListWithoutSelectionWritesAllOnesAndLeavesOutputsAlone)
{
    HWND d = OpenPortsDialog();
    for (int id : {IDC_BAUD, IDC_DATA_BITS, IDC_PARITY, IDC_STOP_BITS, IDC_RTS, IDC_DTR})
        Select(d, id, -1);
    for (unsigned short outputs : {0, SIGNAL_RTS | SIGNAL_DTR | SIGNAL_LOOP}) {
        PortRecord port;
        port.dcb.BaudRate = 4321;
        port.dcb.ByteSize = 5;
        port.outputSignals = outputs;
        ApplyLineSettings(d, &port, 1);
        EXPECT_EQ(4321u, port.dcb.BaudRate);
        EXPECT_EQ(5, port.dcb.ByteSize);
        EXPECT_EQ(255, port.dcb.Parity);
        EXPECT_EQ(255, port.dcb.StopBits);
        EXPECT_EQ(3u, port.dcb.fRtsControl);
        EXPECT_EQ(3u, port.dcb.fDtrControl);
        EXPECT_EQ(outputs, port.outputSignals);
    }
    EXPECT_EQ(Texts{}, recorder.Texts()); // no data bits read, no box
}

TEST_F(LineSettings, LoopBitIsNeverTouched)
{
    HWND d = OpenPortsDialog();
    Select(d, IDC_RTS, 0);
    Select(d, IDC_DTR, 0);
    PortRecord port;
    port.outputSignals = SIGNAL_RTS | SIGNAL_DTR | SIGNAL_LOOP;
    ApplyLineSettings(d, &port);
    EXPECT_EQ(SIGNAL_LOOP, port.outputSignals);
    Select(d, IDC_RTS, 2);
    Select(d, IDC_DTR, 1);
    port.outputSignals = 0;
    ApplyLineSettings(d, &port);
    EXPECT_EQ(SIGNAL_RTS | SIGNAL_DTR, port.outputSignals);
    EXPECT_EQ((DWORD)RTS_CONTROL_HANDSHAKE, port.dcb.fRtsControl);
}

// --- the COM Settings dialog ---

class ComSettings : public DialogTest
{
  protected:
    PortRecord* port = nullptr;

    void SetUp() override
    {
        DialogTest::SetUp();
        port = OpenDefaultPort(5);
        ASSERT_TRUE(port);
    }

    // The dialog on COM5 after the device's settings were changed behind it.
    HWND DialogOnChangedDevice(std::function<void(DCB&)> change)
    {
        DCB dcb = Sim::CommState(5);
        change(dcb);
        Sim::SetCommStateOf(5, dcb);
        return ComSettingsDialog(port);
    }
};

TEST_F(ComSettings, ShowsADefaultOpenedPort)
{
    HWND d = ComSettingsDialog(port);
    ASSERT_TRUE(d);
    char caption[32];
    GetWindowTextA(d, caption, sizeof caption);
    EXPECT_STREQ("COM Settings", caption);
    EXPECT_EQ(15u, ListItems(d, IDC_BAUD).size());
    EXPECT_EQ("9600", ControlText(d, IDC_BAUD));
    EXPECT_EQ("8 bits", ControlText(d, IDC_DATA_BITS));
    EXPECT_EQ("None", ControlText(d, IDC_PARITY));
    EXPECT_EQ("1", ControlText(d, IDC_STOP_BITS));
    EXPECT_EQ("Set", ControlText(d, IDC_RTS));
    EXPECT_EQ("Set", ControlText(d, IDC_DTR));
    for (int box : {IDC_RX_XONXOFF, IDC_CTS_FLOW, IDC_DSR_FLOW, IDC_TX_XONXOFF})
        EXPECT_EQ(BST_UNCHECKED, (int)IsDlgButtonChecked(d, box));
    EXPECT_EQ(nullptr, GetDlgItem(d, IDC_FROM_PORT));
    EXPECT_EQ(nullptr, GetDlgItem(d, IDC_QUANTITY));
}

TEST_F(ComSettings, FlowControlBoxesFollowTheDevice)
{
    HWND d = DialogOnChangedDevice([](DCB& dcb) {
        dcb.fInX = 1;
        dcb.fOutxDsrFlow = 1;
    });
    EXPECT_EQ(BST_CHECKED, (int)IsDlgButtonChecked(d, IDC_RX_XONXOFF));
    EXPECT_EQ(BST_CHECKED, (int)IsDlgButtonChecked(d, IDC_DSR_FLOW));
    EXPECT_EQ(BST_UNCHECKED, (int)IsDlgButtonChecked(d, IDC_TX_XONXOFF));
    EXPECT_EQ(BST_UNCHECKED, (int)IsDlgButtonChecked(d, IDC_CTS_FLOW));
}

TEST_F(ComSettings, OkShowsTheByteSizeBeforeTheDeviceIsSet)
{
    HWND d = ComSettingsDialog(port);
    int setsBefore = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    int setsAtBox = -1;
    recorder.onBox = [&](const ShownBox&) { setsAtBox = Sim::CallCount(Sim::CALL_SET_COMM_STATE); };
    Press(d, IDOK);
    ASSERT_EQ(Texts{"ByteSize = 8"}, recorder.Texts());
    EXPECT_EQ(d, recorder.boxes[0].owner);
    EXPECT_EQ("(null)", recorder.boxes[0].caption);
    EXPECT_EQ((UINT)MB_OK, recorder.boxes[0].style);
    EXPECT_EQ(setsBefore, setsAtBox);
    EXPECT_EQ(setsBefore + 1, Sim::CallCount(Sim::CALL_SET_COMM_STATE));
}

TEST_F(ComSettings, SevenBitsShowSeven)
{
    HWND d = ComSettingsDialog(port);
    Select(d, IDC_DATA_BITS, 0);
    Press(d, IDOK);
    EXPECT_EQ(Texts{"ByteSize = 7"}, recorder.Texts());
    EXPECT_EQ(7, Sim::CommState(5).ByteSize);
}

TEST_F(ComSettings, CancelShowsAndWritesNothing)
{
    HWND d = ComSettingsDialog(port);
    int setsBefore = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    Select(d, IDC_BAUD, 0);
    Press(d, IDCANCEL);
    EXPECT_EQ(Texts{}, recorder.Texts());
    EXPECT_EQ(setsBefore, Sim::CallCount(Sim::CALL_SET_COMM_STATE));
    EXPECT_EQ(9600u, Sim::CommState(5).BaudRate);
}

TEST_F(ComSettings, RateNotInTheListShows300AndOkSetsIt)
{
    HWND d = DialogOnChangedDevice([](DCB& dcb) {
        dcb.BaudRate = 14400;
        dcb.ByteSize = 5;
    });
    EXPECT_EQ(0, Selection(d, IDC_BAUD));
    EXPECT_EQ("300", ControlText(d, IDC_BAUD));
    EXPECT_EQ("8 bits", ControlText(d, IDC_DATA_BITS));
    Press(d, IDOK);
    EXPECT_EQ(300u, Sim::CommState(5).BaudRate);
    EXPECT_EQ(8, Sim::CommState(5).ByteSize);
}

TEST_F(ComSettings, DtrControl3RoundTripsAndLeavesTheDtrOutput)
{
    HWND d = DialogOnChangedDevice([](DCB& dcb) { dcb.fDtrControl = 3; });
    EXPECT_EQ(-1, Selection(d, IDC_DTR));
    port->outputSignals = SIGNAL_RTS;
    Press(d, IDOK);
    EXPECT_EQ(3u, port->dcb.fDtrControl);
    EXPECT_EQ(3u, Sim::CommState(5).fDtrControl);
    EXPECT_EQ(SIGNAL_RTS, port->outputSignals);
}

TEST_F(ComSettings, ParityOutOfRangeShowsNoneSelectedAndOkWrites255)
{
    HWND d = DialogOnChangedDevice([](DCB& dcb) {
        dcb.Parity = 7;
        dcb.StopBits = 3;
    });
    EXPECT_EQ(-1, Selection(d, IDC_PARITY));
    EXPECT_EQ(-1, Selection(d, IDC_STOP_BITS));
    Press(d, IDOK);
    EXPECT_EQ(255, port->dcb.Parity);
    EXPECT_EQ(255, port->dcb.StopBits);
}

TEST_F(ComSettings, OkChangesOnlyTheTenSettings)
{
    DCB odd = OddDcb();
    odd.ByteSize = 8;
    Sim::SetCommStateOf(5, odd);
    HWND d = ComSettingsDialog(port);
    Check(d, IDC_DSR_FLOW);
    Press(d, IDOK);
    DCB dcb = Sim::CommState(5);
    EXPECT_EQ(300u, dcb.BaudRate);
    EXPECT_EQ(MARKPARITY, dcb.Parity);
    EXPECT_EQ(TWOSTOPBITS, dcb.StopBits);
    EXPECT_EQ((DWORD)RTS_CONTROL_HANDSHAKE, dcb.fRtsControl);
    EXPECT_EQ(1u, dcb.fOutxDsrFlow);
    ExpectSameApartFromTheTen(odd, dcb);
}

TEST_F(ComSettings, RefusedSettingsAreReportedAndKeptInTheRecord)
{
    HWND d = ComSettingsDialog(port);
    Select(d, IDC_BAUD, 8);
    Sim::FailCall(Sim::CALL_SET_COMM_STATE, ERROR_INVALID_PARAMETER);
    Press(d, IDOK);
    EXPECT_EQ((Texts{"ByteSize = 8", "Error from SetCommState:87"}), recorder.Texts());
    EXPECT_EQ(19200u, port->dcb.BaudRate);
    EXPECT_EQ(9600u, Sim::CommState(5).BaudRate);
}

TEST_F(ComSettings, FailedReadShowsWhatTheRecordHolds)
{
    Sim::FailCall(Sim::CALL_GET_COMM_STATE, ERROR_INVALID_HANDLE);
    HWND d = DialogOnChangedDevice([](DCB& dcb) { dcb.BaudRate = 57600; });
    EXPECT_EQ(Texts{"Error from GetCommState:6"}, recorder.Texts());
    EXPECT_EQ("9600", ControlText(d, IDC_BAUD));
}

TEST_F(ComSettings, PortWindowCommandRunsTheDialogModally)
{
    ArmModalAction("COM Settings", [](HWND d) {
        Select(d, IDC_BAUD, 12);
        Press(d, IDOK);
    });
    SendMessageA(port->window, WM_COMMAND, CMD_PORT_SETTINGS, 0);
    EXPECT_EQ(1, ModalActed);
    EXPECT_EQ(Texts{"ByteSize = 8"}, recorder.Texts());
    EXPECT_EQ(230400u, Sim::CommState(5).BaudRate);
}
