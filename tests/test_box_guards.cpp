// Boxes that outlive what they were about: a port closed by a log-off while a
// settings box is up, and which failures are shown once per run.
#include "dialogs/dialogs.h"
#include "tests/support.h"

class BoxGuards : public FrameTest
{
};

static void LogOff()
{
    SendMessageA(FrameWindow, WM_QUERYENDSESSION, 0, 0);
}

// Each settings box runs a message loop in which a log-off closes every port
// window and frees its record (poisoned on free): the dialog must end as
// Cancel would without touching the record or its device again.
TEST_F(BoxGuards, LogOffInsideEachSettingsBox)
{
    enum Dialog { SETTINGS_OPENING, SETTINGS_OK, OPEN_PORTS };
    const struct {
        Dialog dialog;
        const char* box;
    } cases[] = {
        {SETTINGS_OPENING, "Error from GetCommState:6"},
        {SETTINGS_OK, "ByteSize = 8"},
        {OPEN_PORTS, "Error from GetCommState:6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        Sim::Reset();
        boxes.boxes.clear();
        Sim::AddPorts(5, 2);
        int calls = -1;
        boxes.onBox = [&](const ShownBox& box) {
            if (box.text != c.box)
                return;
            LogOff();
            calls = (int)Sim::CallLog().size();
        };
        Sim::StartCallLog();
        if (c.dialog == OPEN_PORTS) {
            Sim::FailCall(Sim::CALL_GET_COMM_STATE, ERROR_INVALID_HANDLE, 1, 5);
            EXPECT_TRUE(RunModal(
                "Open Ports", [] { Command(CMD_OPEN_PORTS); },
                [](HWND d) {
                    SendDlgItemMessageA(d, IDC_QUANTITY, CB_SETCURSEL, 1, 0); // 2 ports
                    Press(d, IDOK);
                }));
            EXPECT_EQ(0, Sim::CallCount(Sim::CALL_CREATE_FILE, 6)); // the run stopped
        } else {
            PortRecord* port = OpenWindow(5);
            ASSERT_TRUE(port);
            if (c.dialog == SETTINGS_OPENING)
                Sim::FailCall(Sim::CALL_GET_COMM_STATE, ERROR_INVALID_HANDLE, 1, 5);
            // The opening box ends the dialog before its loop, so nothing acts on it.
            EXPECT_EQ(c.dialog == SETTINGS_OK,
                      RunModal(
                          "COM Settings", [&] { Command(CMD_PORT_SETTINGS, port->window); },
                          [](HWND d) { Press(d, IDOK); }));
        }
        EXPECT_EQ(c.box, boxes.boxes.empty() ? "" : boxes.boxes.back().text);
        ASSERT_NE(-1, calls);
        // Closing the port was the last the device saw.
        EXPECT_EQ((size_t)calls, Sim::CallLog().size());
        EXPECT_EQ(0, PortWindows());
        EXPECT_EQ(nullptr, PortListHead);
        EXPECT_EQ(0, Sim::OpenHandles());
    }
}

// The poll repeats its calls every tick, so a lasting failure there shows
// once per run of the same error; a key, a command or the loopback test the
// user starts is answered with its own box every time.
TEST_F(BoxGuards, OnlyThePollsRepeatedFailuresShowOnce)
{
    PortRecord* port = OpenWindow(5, Sim::WIRE_LOOPBACK_PLUG);
    ASSERT_TRUE(port);
    Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_GEN_FAILURE, -1, 5);
    Command(CMD_SEND_TEST_DATA);
    Ticks(20, 20);
    SendMessageA(port->window, WM_CHAR, 'x', 0);
    SendMessageA(port->window, WM_CHAR, 'y', 0);
    Ticks(20, 20);
    Sim::ClearFaults();
    Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_INVALID_PARAMETER, -1, 5);
    Ticks(20, 20);
    Command(CMD_LOOPBACK_TEST, port->window);
    EXPECT_EQ((Texts{"Com Write Error:31", "Com Write Error:31", "Com Write Error:31",
                     "Com Write Error:87", "Place the loopback plug on COM5", "Com Write Error:87",
                     "Port failed loopback test(Error:10H)"}),
              boxes.All());
}
