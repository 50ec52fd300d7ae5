// The Open Ports and COM Settings dialogs through their real templates and
// procedures, and the loopback-plug test.
#include "dialogs/dialogs.h"
#include "dialogs/line_settings.h"
#include "port/line_control.h"
#include "port/loopback.h"
#include "tests/support.h"

#include <new>
#include <string.h>

static std::string ControlText(HWND dialog, int control)
{
    char text[128];
    GetDlgItemTextA(dialog, control, text, sizeof text);
    return text;
}

static void Select(HWND dialog, int control, int index)
{
    SendDlgItemMessageA(dialog, control, CB_SETCURSEL, (WPARAM)index, 0);
}

static Texts Missing(int first, int count)
{
    Texts texts;
    for (int n = first; n < first + count; n++) {
        texts.push_back("Error from CreateFile: 2 COM" + std::to_string(n) + " 0");
        texts.push_back("Port failed to open.");
    }
    return texts;
}

static Texts OpenNames()
{
    Texts names;
    for (PortRecord* p = PortListHead; p; p = p->next)
        names.push_back(p->name);
    return names;
}

// A DCB with every member the dialogs leave alone set to something unusual.
static DCB OddDcb()
{
    DCB dcb = Sim::CommState(0);
    dcb.BaudRate = 14400;
    dcb.ByteSize = 6;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fParity = dcb.fDsrSensitivity = dcb.fTXContinueOnXoff = dcb.fErrorChar = 1;
    dcb.fNull = dcb.fAbortOnError = 1;
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

// `got` with the ten members the dialogs set taken from `dialog`.
static DCB WithTheTen(DCB got, const DCB& dialog)
{
    got.BaudRate = dialog.BaudRate;
    got.ByteSize = dialog.ByteSize;
    got.Parity = dialog.Parity;
    got.StopBits = dialog.StopBits;
    got.fRtsControl = dialog.fRtsControl;
    got.fDtrControl = dialog.fDtrControl;
    got.fOutX = dialog.fOutX;
    got.fInX = dialog.fInX;
    got.fOutxCtsFlow = dialog.fOutxCtsFlow;
    got.fOutxDsrFlow = dialog.fOutxDsrFlow;
    return got;
}

class Dialogs : public FrameTest
{
  protected:
    void TearDown() override
    {
        for (HWND d : dialogs)
            DestroyWindow(d);
        FrameTest::TearDown();
    }
    // No ports, dialogs or boxes: for the next part of a test.
    void Fresh()
    {
        for (HWND d : dialogs)
            DestroyWindow(d);
        dialogs.clear();
        FrameTest::TearDown();
        FrameTest::SetUp();
        boxes.boxes.clear();
    }
    HWND OpenPortsDialog()
    {
        dialogs.push_back(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_OPEN_PORTS), FrameWindow,
                                             OpenPortsDlgProc, 0));
        return dialogs.back();
    }
    HWND SettingsDialog(PortRecord* port)
    {
        SettingsTargetPort = port;
        dialogs.push_back(CreateDialogParamA(nullptr, RESOURCE_NAME(VANT_SETTINGS_DIALOG),
                                             port->window, ComSettingsDlgProc, 0));
        return dialogs.back();
    }
    // From COM<from>, with a typed quantity if given, the rest as `adjust` sets it.
    void RunOpenPorts(int from, const char* quantity, std::function<void(HWND)> adjust = nullptr)
    {
        HWND d = OpenPortsDialog();
        Select(d, IDC_FROM_PORT, from - 1);
        if (quantity)
            SetDlgItemTextA(d, IDC_QUANTITY, quantity);
        if (adjust)
            adjust(d);
        Press(d, IDOK);
    }
    static int Creates()
    {
        return Sim::CallCount(Sim::CALL_CREATE_FILE);
    }
    std::vector<HWND> dialogs;
};

TEST_F(Dialogs, TypedQuantitiesAndModalRuns)
{
    const struct {
        std::string quantity;
        int tried;
    } cases[] = {
        {"5", 5},
        {"-5", 0},
        {"0", 0},
        {"", 0},
        {" ", 0},
        {"-99999999999999999999", 0},
        {std::string(56, '0') + "3", 3}, // read up to 57 characters
        {std::string(57, '0') + "3", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("\"" + c.quantity + "\"");
        boxes.boxes.clear();
        int before = Creates();
        RunOpenPorts(5, c.quantity.c_str());
        EXPECT_EQ(c.tried, Creates() - before);
        EXPECT_EQ(Missing(5, c.tried), boxes.All());
    }
    // Near the top of the range a saturated quantity ends at the highest number.
    Texts top;
    for (const char* n : {"2147483644", "2147483645", "2147483646", "2147483647"}) {
        top.push_back(std::string("Error from CreateFile: 2 COM") + n + " 0");
        top.push_back("Port failed to open.");
    }
    for (const std::string& q : {std::string("2147483647"), std::string("99999999999999999999"),
                                 std::string(57, '9'), std::string(200, '9')}) {
        boxes.boxes.clear();
        RunOpenPorts(5, q.c_str(), [](HWND d) {
            Select(d, IDC_FROM_PORT,
                   (int)SendDlgItemMessageA(d, IDC_FROM_PORT, CB_ADDSTRING, 0,
                                            (LPARAM) "COM2147483644"));
        });
        EXPECT_EQ(top, boxes.All()) << q.size() << " digits";
    }

    Fresh();
    Sim::AddPort(5), Sim::AddPort(7);
    auto command = [] { SendMessageA(FrameWindow, WM_COMMAND, CMD_OPEN_PORTS, 0); };
    EXPECT_TRUE(RunModal("Open Ports", command, [](HWND d) { Press(d, IDCANCEL); }));
    EXPECT_TRUE(RunModal("Open Ports", command, [](HWND d) {
        SetDlgItemTextA(d, IDC_QUANTITY, "abc");
        Press(d, IDOK);
    }));
    EXPECT_EQ(0, Creates());
    EXPECT_TRUE(RunModal("Open Ports", command, [](HWND d) {
        Select(d, IDC_FROM_PORT, 6);
        Press(d, IDOK);
    }));
    EXPECT_EQ(Texts{"COM7"}, OpenNames());
    EXPECT_EQ(Texts{}, boxes.All());
}

// Lets the MDI client create `allowed` windows and refuses the rest.
static WNDPROC RealClient;
static int WindowsAllowed;
static RecordWatch RefusedWatch;
static LRESULT CALLBACK RefusingClient(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MDICREATE && WindowsAllowed-- <= 0) {
        WatchRecord(&RefusedWatch, CurrentPort);
        return 0;
    }
    return CallWindowProcA(RealClient, window, message, wParam, lParam);
}

TEST_F(Dialogs, OpenPortsDefaultsRunsAndFailures)
{
    HWND d = OpenPortsDialog();
    EXPECT_EQ(255, SendDlgItemMessageA(d, IDC_FROM_PORT, CB_GETCOUNT, 0, 0));
    EXPECT_EQ("COM5", ControlText(d, IDC_FROM_PORT));
    Sim::AddPorts(1, 10);
    Press(d, IDOK);
    EXPECT_EQ(Texts{}, boxes.All());
    ASSERT_EQ(Texts{"COM5"}, OpenNames());
    EXPECT_EQ(1, Creates());
    PortRecord* port = PortListHead;
    EXPECT_EQ(port, SettingsTargetPort);
    EXPECT_EQ(MdiClient, GetParent(port->window));
    DCB dcb = Sim::CommState(5), want = WithTheTen(dcb, DCB{});
    want.BaudRate = 9600;
    want.ByteSize = 8;
    want.fRtsControl = RTS_CONTROL_ENABLE;
    want.fDtrControl = DTR_CONTROL_ENABLE;
    EXPECT_EQ(0, memcmp(&want, &dcb, sizeof dcb));
    EXPECT_EQ(SIGNAL_RTS | SIGNAL_DTR, port->outputSignals);
    EXPECT_FALSE(GetMenuState(AppMenu, MENU_SETTINGS_POSITION, MF_BYPOSITION) & MF_DISABLED);
    EXPECT_FALSE(GetMenuState(AppMenu, MENU_WINDOW_POSITION, MF_BYPOSITION) & MF_DISABLED);

    Fresh();
    Sim::AddPort(3);
    Sim::AddPort(5);
    std::vector<HWND> focus;
    boxes.onBox = [&](const ShownBox&) { focus.push_back(GetFocus()); };
    EnableMenuItem(AppMenu, MENU_SETTINGS_POSITION, MF_BYPOSITION | MF_DISABLED);
    RunOpenPorts(250, nullptr, [](HWND d) { Select(d, IDC_QUANTITY, 3); });
    EXPECT_EQ(Missing(250, 8), boxes.All());
    EXPECT_TRUE(GetMenuState(AppMenu, MENU_SETTINGS_POSITION, MF_BYPOSITION) &
                MF_DISABLED); // none opened
    EXPECT_EQ("(null)", boxes.boxes[1].caption);
    EXPECT_EQ((UINT)MB_OK, boxes.boxes[1].style);
    EXPECT_EQ(focus[1], boxes.boxes[1].owner);
    boxes.boxes.clear();
    RunOpenPorts(3, nullptr, [](HWND d) { Select(d, IDC_QUANTITY, 2); });
    Texts expected = Missing(4, 1), com6 = Missing(6, 1);
    expected.insert(expected.end(), com6.begin(), com6.end());
    EXPECT_EQ(expected, boxes.All());
    EXPECT_EQ((Texts{"COM5", "COM3"}), OpenNames());
    for (PortRecord* p = PortListHead; p; p = p->next) {
        char title[16];
        GetWindowTextA(p->window, title, sizeof title);
        EXPECT_STREQ(p->name, title);
    }

    Fresh(); // a failed open frees its record at once
    RecordWatch watch = {};
    int closedAtBox = -1;
    boxes.onBox = [&](const ShownBox& box) {
        if (box.text.rfind("Error from CreateFile:", 0) == 0) {
            WatchRecord(&watch, CurrentPort);
        } else {
            closedAtBox = watch.closed;
            EXPECT_EQ(nullptr, CurrentPort);
        }
    };
    RunOpenPorts(9, nullptr);
    UnwatchRecord(&watch);
    EXPECT_EQ(1, closedAtBox);

    Fresh(); // a failed window closes its port before the box and ends the run
    Sim::AddPorts(5, 3);
    WindowsAllowed = 1;
    RefusedWatch = RecordWatch{};
    RealClient = (WNDPROC)SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RefusingClient);
    bool com6OpenAtBox = true;
    boxes.onBox = [&](const ShownBox&) { com6OpenAtBox = Sim::IsOpen(6); };
    RunOpenPorts(5, "3");
    SetWindowLongPtrA(MdiClient, GWLP_WNDPROC, (LONG_PTR)RealClient);
    UnwatchRecord(&RefusedWatch);
    EXPECT_EQ(Texts{"Port No Open."}, boxes.All());
    EXPECT_EQ("", boxes.boxes[0].caption);
    EXPECT_FALSE(com6OpenAtBox);
    EXPECT_EQ(1, RefusedWatch.closed);
    EXPECT_EQ(nullptr, CurrentPort);
    EXPECT_EQ(2, Creates()); // COM7 is not tried
    EXPECT_EQ(Texts{"COM5"}, OpenNames());
}

// Both dialogs map every control onto its DCB member and leave the rest alone.
TEST_F(Dialogs, ControlsMapOntoTheDcbInBothDialogs)
{
    const struct {
        int baud, dataBits, parity, stopBits, rts, dtr; // list positions
        int checked[4];                                 // TX, RX XON/XOFF, CTS, DSR
        DWORD rate;
        BYTE byteSize;
        DWORD rtsControl, dtrControl;
        unsigned short outputs; // from RTS|DTR|LOOP
    } cases[] = {
        {11, 0, 2, 1, 1, 1, {1, 0, 1, 0}, 115200, 7, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, 7},
        {0, 1, 4, 2, 0, 1, {0, 1, 0, 1}, 300, 8, RTS_CONTROL_DISABLE, DTR_CONTROL_ENABLE, 5},
        {14, 1, 1, 0, 3, 0, {0, 0, 0, 0}, 921600, 8, RTS_CONTROL_TOGGLE, DTR_CONTROL_DISABLE, 6},
        {7, 0, 3, 0, 2, 2, {1, 1, 1, 1}, 9600, 7, RTS_CONTROL_HANDSHAKE, DTR_CONTROL_HANDSHAKE, 7},
        {-1, -1, -1, -1, -1, -1, {0, 0, 0, 0}, 14400, 6, 3, 3, 7}, // nothing selected
    };
    const int boxIds[4] = {IDC_TX_XONXOFF, IDC_RX_XONXOFF, IDC_CTS_FLOW, IDC_DSR_FLOW};
    int number = 10;
    for (bool settings : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << (settings ? "COM Settings " : "Open Ports ") << c.rate);
            boxes.boxes.clear();
            Sim::AddPort(++number);
            Sim::SetCommStateOf(number, OddDcb());
            auto adjust = [&](HWND d) {
                int lists[6] = {IDC_BAUD,      IDC_DATA_BITS, IDC_PARITY,
                                IDC_STOP_BITS, IDC_RTS,       IDC_DTR};
                int at[6] = {c.baud, c.dataBits, c.parity, c.stopBits, c.rts, c.dtr};
                for (int i = 0; i < 6; i++)
                    Select(d, lists[i], at[i]);
                for (int i = 0; i < 4; i++)
                    CheckDlgButton(d, boxIds[i], c.checked[i] ? BST_CHECKED : BST_UNCHECKED);
            };
            PortRecord* port;
            if (settings) {
                port = OpenWindow(number);
                // Each selected line starts the other way, so only the
                // dialog can have set it.
                port->outputSignals =
                    (unsigned short)(c.rts < 0 ? SIGNAL_RTS | SIGNAL_DTR | SIGNAL_LOOP
                                               : SIGNAL_LOOP | (~c.outputs & 3));
                HWND d = SettingsDialog(port);
                adjust(d);
                Press(d, IDOK);
                if (c.dataBits >= 0) {
                    EXPECT_EQ("ByteSize = " + std::to_string(c.byteSize), boxes.boxes[0].text);
                    EXPECT_EQ(d, boxes.boxes[0].owner);
                    EXPECT_EQ("(null)", boxes.boxes[0].caption);
                }
            } else {
                RunOpenPorts(number, nullptr, adjust);
                port = FindOpenPort(("COM" + std::to_string(number)).c_str());
                ASSERT_TRUE(port);
            }
            // A list without a selection writes 255, which the device refuses.
            bool refused = c.parity < 0;
            Texts shown = boxes.All();
            EXPECT_EQ(refused, !shown.empty() && shown.back() == "Error from SetCommState:87");
            DCB want = OddDcb(), got = Sim::CommState(number);
            want.BaudRate = c.rate;
            want.ByteSize = c.byteSize;
            want.Parity = (BYTE)c.parity;
            want.StopBits = (BYTE)c.stopBits;
            want.fRtsControl = c.rtsControl;
            want.fDtrControl = c.dtrControl;
            want.fOutX = c.checked[0];
            want.fInX = c.checked[1];
            want.fOutxCtsFlow = c.checked[2];
            want.fOutxDsrFlow = c.checked[3];
            DCB device = refused ? OddDcb() : want;
            EXPECT_EQ(0, memcmp(&device, &got, sizeof got));
            EXPECT_EQ(0, memcmp(&want, &port->dcb, sizeof got));
            EXPECT_EQ(settings ? c.outputs : c.outputs & ~SIGNAL_LOOP, port->outputSignals);
        }
    }
}

TEST_F(Dialogs, ComSettingsAndFailedDeviceCalls)
{
    PortRecord* port = OpenWindow(5);
    DCB dcb = Sim::CommState(5);
    dcb.BaudRate = 14400; // not in the list: shows 300
    dcb.ByteSize = 5;     // not 7: shows 8
    dcb.Parity = 7;
    dcb.StopBits = 3;
    dcb.fDtrControl = 3;
    dcb.fInX = dcb.fOutxDsrFlow = 1;
    Sim::SetCommStateOf(5, dcb);
    HWND d = SettingsDialog(port);
    EXPECT_EQ("300", ControlText(d, IDC_BAUD));
    EXPECT_EQ("8 bits", ControlText(d, IDC_DATA_BITS));
    for (int list : {IDC_PARITY, IDC_STOP_BITS, IDC_DTR})
        EXPECT_EQ(-1, SendDlgItemMessageA(d, list, CB_GETCURSEL, 0, 0)) << list;
    EXPECT_EQ("Set", ControlText(d, IDC_RTS));
    const int checked[][2] = {
        {IDC_RX_XONXOFF, 1}, {IDC_DSR_FLOW, 1}, {IDC_TX_XONXOFF, 0}, {IDC_CTS_FLOW, 0}};
    for (const auto& c : checked)
        EXPECT_EQ(c[1], (int)IsDlgButtonChecked(d, c[0])) << c[0];
    EXPECT_EQ(nullptr, GetDlgItem(d, IDC_QUANTITY));
    int sets = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    Select(d, IDC_BAUD, 3);
    Press(d, IDCANCEL);
    EXPECT_EQ(sets, Sim::CallCount(Sim::CALL_SET_COMM_STATE));
    EXPECT_EQ(Texts{}, boxes.All());
    // The port window's command runs it modally on that port; the box comes
    // before the device is set.
    PortRecord* other = OpenWindow(6);
    SettingsTargetPort = other;
    int setsAtBox = -1;
    boxes.onBox = [&](const ShownBox&) { setsAtBox = Sim::CallCount(Sim::CALL_SET_COMM_STATE); };
    EXPECT_TRUE(RunModal(
        "COM Settings", [&] { Command(CMD_PORT_SETTINGS, port->window); },
        [](HWND d) {
            Select(d, IDC_BAUD, 12);
            Select(d, IDC_PARITY, 0);
            Select(d, IDC_STOP_BITS, 0);
            Select(d, IDC_DTR, 1);
            Press(d, IDOK);
        }));
    EXPECT_EQ(Texts{"ByteSize = 8"}, boxes.All());
    EXPECT_EQ(sets, setsAtBox);
    EXPECT_EQ(230400u, Sim::CommState(5).BaudRate);
    EXPECT_EQ(9600u, Sim::CommState(6).BaudRate);

    Fresh();
    Sim::AddPort(5);
    Sim::SetCommStateOf(5, OddDcb());
    Sim::FailCall(Sim::CALL_GET_COMM_STATE, ERROR_INVALID_HANDLE);
    Sim::FailCall(Sim::CALL_SET_COMM_STATE, ERROR_INVALID_PARAMETER);
    RunOpenPorts(5, nullptr);
    EXPECT_EQ((Texts{"Error from GetCommState:6", "Error from SetCommState:87"}), boxes.All());
    port = PortListHead;
    ASSERT_TRUE(port && IsWindow(port->window));
    DCB zeroed = {}; // a failed read gives the dialog a zeroed DCB
    zeroed.DCBlength = sizeof zeroed;
    DCB got = port->dcb, want = WithTheTen(zeroed, got);
    EXPECT_EQ(0, memcmp(&got, &want, sizeof got));
    EXPECT_EQ(9600u, got.BaudRate);
    boxes.boxes.clear();
    DCB changed = Sim::CommState(5);
    changed.BaudRate = 57600;
    Sim::SetCommStateOf(5, changed);
    Sim::FailCall(Sim::CALL_GET_COMM_STATE, ERROR_INVALID_HANDLE);
    d = SettingsDialog(port);
    EXPECT_EQ("9600", ControlText(d, IDC_BAUD)); // what the record holds
    Select(d, IDC_BAUD, 8);
    Sim::FailCall(Sim::CALL_SET_COMM_STATE, ERROR_INVALID_PARAMETER);
    Press(d, IDOK);
    EXPECT_EQ((Texts{"Error from GetCommState:6", "ByteSize = 8", "Error from SetCommState:87"}),
              boxes.All());
    EXPECT_EQ(19200u, port->dcb.BaudRate);
    EXPECT_EQ(57600u, Sim::CommState(5).BaudRate);
}

// --- the loopback-plug test ---

static const char Caption[] = "Tarnwick - Loopback Test";

static int AllDeviceCalls()
{
    int total = 0;
    for (int c = 0; c < Sim::CALL_COUNT; c++)
        total += Sim::CallCount((Sim::Call)c);
    return total;
}

class Loopback : public SimTest
{
  protected:
    void TearDown() override
    {
        if (port && inStorage)
            port->~PortRecord();
        SimTest::TearDown();
    }
    // COM5 at 8 data bits, no parity, one stop bit; with `inStorage` its
    // record lives where the test can see any write after it was freed.
    void OpenAt(Sim::Wiring wiring, DWORD baud = 9600)
    {
        Sim::AddPort(5, wiring);
        DCB dcb = Sim::CommState(5);
        dcb.BaudRate = baud;
        Sim::SetCommStateOf(5, dcb);
        port = inStorage ? new (storage) PortRecord : new PortRecord;
        ASSERT_EQ(0, OpenPort(port, "COM5"));
        GetDeviceSettings(port, &port->dcb);
    }
    std::string Last() const
    {
        return boxes.boxes.empty() ? "" : boxes.boxes.back().text;
    }
    PortRecord* port = nullptr;
    bool inStorage = false;
    alignas(PortRecord) unsigned char storage[sizeof(PortRecord)];
};

TEST_F(Loopback, Outcomes)
{
    const char* pass = "COM5 passed the loopback test.";
    const struct {
        Sim::Wiring wiring;
        DWORD baud;
        void (*arrange)();
        const char* result;
    } cases[] = {
        {Sim::WIRE_LOOPBACK_PLUG, 9600, [] {}, pass},
        {Sim::WIRE_LOOPBACK_PLUG_RI, 9600, [] {}, "COM5 passed the loopback test. RI present."},
        {Sim::WIRE_NONE, 9600, [] {}, "Port failed loopback test(Error:1eH)"},
        {Sim::WIRE_DATA_ONLY, 9600, [] {}, "Port failed loopback test(Error:eH)"},
        {Sim::WIRE_LOOPBACK_PLUG, 300, [] {}, "Port failed loopback test(Error:10H)"}, // late
        {Sim::WIRE_LOOPBACK_PLUG, 600, [] {}, pass},
        {Sim::WIRE_LOOPBACK_PLUG, 9600,
         [] {
             Sim::PeerSend(5, "abc", 3); // bytes already waiting
             Sim::Advance(100);
         },
         "Port failed loopback test(Error:10H)"},
        {Sim::WIRE_LOOPBACK_PLUG_RI, 9600,
         [] { Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_BAD_COMMAND, -1, 5); },
         "Port failed loopback test(Error:eH)"}, // inputs read as off
        {Sim::WIRE_LOOPBACK_PLUG, 9600,
         [] { Sim::FailCall(Sim::CALL_CLEAR_COMM_ERROR, ERROR_INVALID_HANDLE, 1, 5); },
         "Port failed loopback test(Error:10H)"}, // an empty queue
        {Sim::WIRE_LOOPBACK_PLUG, 9600, [] { Sim::SetStuckSignals(5, 0, MS_RLSD_ON); },
         "Port failed loopback test(Error:8H)"}, // CD's wire broken
        {Sim::WIRE_LOOPBACK_PLUG, 9600, [] { Sim::SetStuckSignals(5, MS_RLSD_ON, 0); },
         "Port failed loopback test(Error:1H)"}, // CD shorted on
        {Sim::WIRE_LOOPBACK_PLUG, 9600, [] { Sim::NextReadShort(5, 0); },
         "Port failed loopback test(Error:40H)"}, // zeroed buffer: the end check passes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        Sim::Reset();
        boxes.boxes.clear();
        OpenAt(c.wiring, c.baud);
        c.arrange();
        RunLoopbackTest(port);
        ASSERT_LE(2u, boxes.boxes.size()); // and the read's own box when it came short
        ASSERT_GE(3u, boxes.boxes.size());
        EXPECT_EQ("Place the loopback plug on COM5", boxes.boxes[0].text);
        EXPECT_EQ(Caption, boxes.boxes[0].caption);
        EXPECT_EQ((UINT)MB_OKCANCEL, boxes.boxes[0].style);
        EXPECT_EQ(c.result, Last());
        EXPECT_EQ(Caption, boxes.boxes.back().caption);
        EXPECT_EQ((UINT)(c.result[0] == 'P' ? MB_ICONERROR : MB_ICONINFORMATION),
                  boxes.boxes.back().style);
        EXPECT_EQ(0, port->testInProgress);
        if (c.baud == 300) {
            EXPECT_EQ(0, Sim::CallCount(Sim::CALL_READ_FILE, 5)); // the echo stays queued
            Sim::Advance(1000);
            EXPECT_EQ(8u, Sim::InputQueue(5));
        }
        delete port;
    }
    port = nullptr;
}

TEST_F(Loopback, WhatTheTestDoesToThePort)
{
    OpenAt(Sim::WIRE_LOOPBACK_PLUG);
    SetLoopback(port, 1);
    port->outputSignals = SIGNAL_LOOP;
    HMENU frameMenu = AppMenu;
    AppMenu = CreateMenu();
    AppendMenuA(AppMenu, MF_STRING | MF_CHECKED, CMD_SEND_TEST_DATA, "Send Test Data");
    TestDataOn = 1;
    std::vector<int> flags;
    boxes.onBox = [&](const ShownBox&) {
        flags.push_back(port->testInProgress);
        flags.push_back(
            TestDataOn +
            2 * !!(GetMenuState(AppMenu, CMD_SEND_TEST_DATA, MF_BYCOMMAND) & MF_CHECKED));
    };
    Sim::StartCallLog();
    int sets = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    RunLoopbackTest(port);
    EXPECT_EQ((std::vector<int>{0, 0, 1, 0}), flags); // test data off before the question
    EXPECT_EQ("COM5 passed the loopback test.", Last());
    EXPECT_EQ((std::vector<DWORD>{CLRDTR, CLRRTS, CLRDTR, SETRTS, SETDTR, CLRRTS, SETDTR, SETRTS}),
              Sim::Escapes(5));
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, port->outputSignals);
    EXPECT_EQ(3u, Sim::OutputLines(5));
    EXPECT_FALSE(Sim::LoopbackOn(5)); // the internal loop is off
    EXPECT_EQ((std::vector<DWORD>{PURGE_TXABORT, PURGE_RXABORT}), Sim::Purges(5));
    EXPECT_EQ(sets, Sim::CallCount(Sim::CALL_SET_COMM_STATE)); // no handshake: nothing set
    EXPECT_EQ(6, Sim::CallCount(Sim::CALL_SLEEP));
    EXPECT_EQ(std::vector<DWORD>{8}, Logged(Sim::CALL_WRITE_FILE)); // "TESTING" with its NUL
    EXPECT_EQ(std::vector<DWORD>{8}, Logged(Sim::CALL_READ_FILE));

    // Cancel changes nothing but test data.
    boxes.onBox = nullptr;
    boxes.boxes.clear();
    boxes.answers = {IDCANCEL};
    SetLoopback(port, 1);
    port->outputSignals = SIGNAL_LOOP | SIGNAL_RTS;
    TestDataOn = 1;
    int calls = AllDeviceCalls();
    RunLoopbackTest(port);
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(0, TestDataOn);
    EXPECT_EQ(SIGNAL_LOOP | SIGNAL_RTS, port->outputSignals);
    EXPECT_EQ(calls, AllDeviceCalls());
    EXPECT_EQ(0, port->testInProgress);
    DestroyMenu(AppMenu);
    AppMenu = frameMenu;
}

TEST_F(Loopback, HandshakeModesAreOffForTheStepsAndRestored)
{
    const DWORD modes[][2] = {{RTS_CONTROL_HANDSHAKE, DTR_CONTROL_ENABLE},
                              {RTS_CONTROL_TOGGLE, DTR_CONTROL_ENABLE},
                              {RTS_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE},
                              {RTS_CONTROL_HANDSHAKE, DTR_CONTROL_HANDSHAKE}};
    for (const auto& m : modes) {
        Sim::Reset();
        OpenAt(Sim::WIRE_LOOPBACK_PLUG);
        DCB dcb = Sim::CommState(5);
        dcb.fRtsControl = m[0];
        dcb.fDtrControl = m[1];
        Sim::SetCommStateOf(5, dcb);
        boxes.boxes.clear();
        Sim::StartCallLog();
        RunLoopbackTest(port);
        // Set off before the first line is driven, restored after the last.
        std::string order;
        for (const Sim::LoggedCall& call : Sim::CallLog())
            if (call.call == Sim::CALL_SET_COMM_STATE || call.call == Sim::CALL_ESCAPE)
                order += call.call == Sim::CALL_ESCAPE ? "e" : "S";
        EXPECT_EQ("SeeeeeeeeS", order);
        EXPECT_EQ("COM5 passed the loopback test.", Last());
        DCB after = Sim::CommState(5);
        EXPECT_EQ(0, memcmp(&dcb, &after, sizeof dcb));
        delete port;
    }
    port = nullptr;
}

// A log-off closes the port window while one of the test's boxes is up: the
// record is freed (and its memory poisoned) and nothing may touch it or the
// device after, nor show another box.
TEST_F(Loopback, LogOffInsideEachBox)
{
    const struct {
        void (*arrange)();
        const char* during;
        size_t boxes;
    } cases[] = {
        {[] {}, "Place the loopback plug on COM5", 1},
        {[] {}, "COM5 passed the loopback test.", 2},
        {[] { Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_INVALID_PARAMETER, 1, 5); },
         "Com Write Error:87", 2},
        {[] { Sim::NextReadShort(5, 3); }, "ComRead Error B Bytes, got: 3 ,Wanted: 8", 2},
    };
    inStorage = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.during);
        Sim::Reset();
        boxes.boxes.clear();
        OpenAt(Sim::WIRE_LOOPBACK_PLUG);
        c.arrange();
        int calls = -1;
        boxes.onBox = [&](const ShownBox& box) {
            if (box.text != c.during)
                return;
            port->~PortRecord();
            memset(storage, 0xDD, sizeof storage);
            calls = AllDeviceCalls();
        };
        RunLoopbackTest(port);
        EXPECT_EQ(c.boxes, boxes.boxes.size());
        EXPECT_EQ(c.during, Last());
        EXPECT_EQ(calls, AllDeviceCalls());
        EXPECT_EQ(std::string(sizeof storage, '\xDD'), std::string((char*)storage, sizeof storage));
        EXPECT_EQ(nullptr, PortListHead);
    }
    port = nullptr;
}
