// Reliability: noise on the line, a vanished adapter, output held for longer
// than the write wait, closing in the middle of modal boxes, long runs and
// hostile dialog input. Everything runs the real frame and port windows on
// the simulated adapter; the allocator of the test programs poisons freed
// memory, so a record touched after its window closed fails loudly.
#include "app/commands.h"
#include "dialogs/dialogs.h"
#include "dialogs/line_settings.h"
#include "port/poll.h"
#include "tests/reliability_support.h"
#include "view/paint.h"
#include "view/screen.h"

#include <algorithm>
#include <map>
#include <random>

// --- 1. noise ---

typedef ReliabilityTest ReliabilityNoise;

static const long long NoiseBytes = 10 * 1000 * 1000;

static int RandomChunk(std::mt19937& random, std::vector<char>& chunk)
{
    int length = 1 + (int)(random() % RECEIVE_BUFFER_SIZE);
    for (int i = 0; i < length; i++)
        chunk[i] = (char)(random() & 0xFF);
    return length;
}

TEST_F(ReliabilityNoise, TenMillionRandomBytesThroughAppendAndRedrawKeepTheRingSound)
{
    Sim::AddPort(5);
    PortRecord* port = OpenPortWindow(5);
    ASSERT_TRUE(port);
    std::mt19937 random(1103515245u);
    std::vector<char> chunk(RECEIVE_BUFFER_SIZE);
    long long pushed = 0;
    int chunks = 0;
    while (pushed < NoiseBytes) {
        int length = RandomChunk(random, chunk);
        // Both ways of showing line ends take their turn.
        if (chunks % 64 == 0)
            ShowCrLf = !ShowCrLf;
        AppendText(port, chunk.data(), length);
        RedrawPort(port, 0);
        pushed += length;
        chunks++;
        std::string fault = RingFault(port);
        ASSERT_EQ("", fault) << "after " << pushed << " bytes";
    }
    ShowCrLf = 0;
    AppendText(port, "\r\nafter the noise", 0);
    RedrawPort(port, 0);
    EXPECT_STREQ("after the noise", port->lines[port->currentLine].text);
    EXPECT_TRUE(boxes.boxes.empty());
    printf("[ figures ] %lld random bytes in %d chunks through AppendText and RedrawPort\n", pushed,
           chunks);
}

TEST_F(ReliabilityNoise, TheSameNoiseThroughThePollWithLineErrorsBetween)
{
    Sim::AddPort(9);
    // Room for a whole chunk, so what is pushed is what the poll must read.
    Sim::SetQueueSizes(9, 2 * RECEIVE_BUFFER_SIZE, 4096);
    PortRecord* port = OpenPortWindow(9);
    ASSERT_TRUE(port);
    std::mt19937 random(1103515245u);
    std::vector<char> chunk(RECEIVE_BUFFER_SIZE);
    const DWORD errorBits[] = {CE_FRAME, CE_OVERRUN | CE_RXPARITY, CE_BREAK, CE_RXOVER | CE_FRAME};
    long long pushed = 0;
    int chunks = 0, errorPolls = 0;
    while (pushed < NoiseBytes) {
        int length = RandomChunk(random, chunk);
        Sim::PeerSend(9, chunk.data(), (DWORD)length);
        Sim::Advance(10);
        PollAllPorts();
        pushed += length;
        chunks++;
        ASSERT_EQ(0u, Sim::InputQueue(9)) << "after " << pushed << " bytes";
        if (chunks % 16 == 0) {
            // Line errors between two chunks become markers, never boxes.
            Sim::InjectLineErrors(9, errorBits[errorPolls % 4]);
            Sim::Advance(10);
            PollAllPorts();
            std::string around = std::string(port->lines[(port->currentLine + 34) % 35].text) +
                                 port->lines[port->currentLine].text;
            ASSERT_NE(std::string::npos, around.find("<ERR:")) << "after " << pushed << " bytes";
            errorPolls++;
        }
        std::string fault = RingFault(port);
        ASSERT_EQ("", fault) << "after " << pushed << " bytes";
    }
    EXPECT_EQ(0u, Sim::LostBytes(9));
    EXPECT_EQ(Texts{}, boxes.Texts());
    Sim::PeerSend(9, "\r\nafter the noise", 17);
    PollAllPorts();
    EXPECT_STREQ("after the noise", port->lines[port->currentLine].text);
    printf("[ figures ] %lld random bytes in %d chunks through the poll, %d line-error polls\n",
           pushed, chunks, errorPolls);
}

// --- 2. a vanished device ---

typedef ReliabilityTest ReliabilityVanished;

// While a box is up its message loop would deliver timer ticks.
static void TicksInsideABox()
{
    for (int i = 0; i < 5; i++) {
        Sim::Advance(20);
        SendMessageA(FrameWindow, WM_TIMER, 0, 0);
    }
}

TEST_F(ReliabilityVanished, UnpluggedPortShowsEachBoxOnceAndItsWindowStaysUsable)
{
    Sim::AddPort(5);
    Sim::AddPorts(6, 1, Sim::WIRE_LOOPBACK_PLUG);
    PortRecord* gone = OpenPortWindow(5);
    PortRecord* stays = OpenPortWindow(6);
    ASSERT_TRUE(gone && stays);
    Command(CMD_SEND_TEST_DATA);
    Ticks(50, 20);
    ASSERT_EQ(Texts{}, boxes.Texts());
    ASSERT_FALSE(Sim::PeerTake(5).empty());

    NestingProbe probe;
    probe.Attach(boxes, TicksInsideABox);
    Sim::Unplug(5);
    Ticks(500, 20);

    std::map<std::string, int> seen = CountTexts(boxes);
    EXPECT_EQ(1, seen["GetCommModemStatus Error:22"]);
    EXPECT_EQ(1, seen["Com Write Error:22"]);
    EXPECT_EQ(2u, boxes.boxes.size()) << testing::PrintToString(boxes.Texts());
    EXPECT_EQ(1, probe.deepest) << testing::PrintToString(probe.nested);
    EXPECT_TRUE(FlatScreenHas(gone, "<ERR 16H,ClearCommError, COM5, handle:"));
    // The other port goes on as before.
    EXPECT_TRUE(FlatScreenHas(stays, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST"));

    // The window still answers everything a user can do to it.
    size_t before = boxes.boxes.size();
    SendMessageA(gone->window, WM_CHAR, 'x', 0);
    SendMessageA(gone->window, WM_COMMAND, CMD_SET_XOFF, 0);
    EXPECT_TRUE(FlatScreenHas(gone, "<SETXOFF set>"));
    SendMessageA(gone->window, WM_COMMAND, CMD_SET_BREAK, 0);
    SendMessageA(gone->window, WM_MOUSEMOVE, 0, MAKELPARAM(SignalLampX[5] + 2, 5));
    SendMessageA(gone->window, WM_LBUTTONUP, 0, MAKELPARAM(SignalLampX[5] + 2, 5));
    SendMessageA(gone->window, WM_COMMAND, CMD_CLEAR_SCREEN, 0);
    InvalidateRect(gone->window, nullptr, TRUE);
    UpdateWindow(gone->window);
    Ticks(20, 20);
    EXPECT_EQ(before, boxes.boxes.size()) << testing::PrintToString(boxes.Texts());
    SendMessageA(gone->window, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
    EXPECT_EQ("Port failed loopback test(Error:1eH)", boxes.boxes.back().text);

    // And it closes cleanly, with everything the port held released.
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)gone->window, 0);
    EXPECT_EQ(stays, PortListHead);
    EXPECT_EQ(nullptr, stays->next);
    EXPECT_FALSE(Sim::IsOpen(5));
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)stays->window, 0);
    EXPECT_EQ(0, Sim::OpenHandles());
    printf("[ figures ] boxes after the unplug: %s; deepest nesting %d\n",
           testing::PrintToString(boxes.Texts()).c_str(), probe.deepest);
}

TEST_F(ReliabilityVanished, EachRunOfFailuresAtOneCallSiteShowsOneBox)
{
    Sim::AddPorts(5, 2);
    PortRecord* port = OpenPortWindow(5);
    PortRecord* other = OpenPortWindow(6);
    ASSERT_TRUE(port && other);
    NestingProbe probe;
    probe.Attach(boxes, TicksInsideABox);
    Command(CMD_SEND_TEST_DATA);

    // Writes refused for 200 polls: one box, then the run ends with a
    // write that goes through, and the next run has its own box.
    for (int run = 0; run < 2; run++) {
        Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_GEN_FAILURE, -1, 5);
        Ticks(200, 20);
        Sim::ClearFaults();
        Ticks(200, 20);
    }
    EXPECT_EQ((Texts{"Com Write Error:31", "Com Write Error:31"}), boxes.Texts());
    Command(CMD_SEND_TEST_DATA);
    boxes.boxes.clear();

    // Reads refused while data keeps arriving: one box per run, and every
    // refused chunk is still marked on the screen.
    for (int run = 0; run < 2; run++) {
        Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, -1, 5);
        for (int i = 0; i < 100; i++) {
            Sim::PeerSend(5, "data", 4);
            Ticks(1, 20);
        }
        EXPECT_TRUE(FlatScreenHas(port, "Error reading data"));
        Sim::ClearFaults();
        Sim::PeerSend(5, "ok", 2);
        Ticks(10, 20);
    }
    EXPECT_EQ((Texts{"Error On Read!: 31 ,Wanted: 4", "Error On Read!: 31 ,Wanted: 4"}),
              boxes.Texts());

    // The same failure on two ports is two runs.
    boxes.boxes.clear();
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_GEN_FAILURE, -1, 0);
    Ticks(100, 20);
    Sim::ClearFaults();
    EXPECT_EQ((Texts{"GetCommModemStatus Error:31", "GetCommModemStatus Error:31"}), boxes.Texts());
    EXPECT_EQ(1, probe.deepest);
}

// --- 3. held output ---

typedef ReliabilityTest ReliabilityHeldOutput;

TEST_F(ReliabilityHeldOutput, XoffLongerThanTheWriteWaitIsReportedOnceAndXonResumes)
{
    Sim::AddPort(5);
    PortRecord* port = OpenPortWindow(5);
    ASSERT_TRUE(port);
    int handlesAtRest = Sim::OpenHandles();
    Command(CMD_SEND_TEST_DATA);
    Ticks(100, 20);
    std::string sent = Sim::PeerTake(5);
    ASSERT_FALSE(sent.empty());

    SendMessageA(port->window, WM_COMMAND, CMD_SET_XOFF, 0);
    Ticks(50, 20);
    Sim::PeerTake(5);
    // Keys typed while held: each new write first waits 6 s for the one
    // before it, gives up on it and leaves it queued at the device.
    for (char key = 'A'; key <= 'E'; key++) {
        SendMessageA(port->window, WM_CHAR, key, 0);
        Ticks(10, 100);
    }
    // One box for each key that found the one before it still held; the
    // poll, which sees the held bytes queued, adds none in half a minute.
    Ticks(300, 100);
    EXPECT_EQ(Texts(4, "ComOut Pending Failed, stat:258"), boxes.Texts());
    EXPECT_EQ("", Sim::PeerTake(5));
    EXPECT_GE(Sim::OutstandingRequests(5), 4);
    // The abandoned writes keep their blocks and events until they finish.
    EXPECT_GE(Sim::OpenHandles(), handlesAtRest + 4);

    SendMessageA(port->window, WM_COMMAND, CMD_SET_XON, 0);
    Ticks(300, 100);
    std::string resumed = Sim::PeerTake(5);
    // Held bytes leave first and in order, then the pattern flows again.
    size_t keys = resumed.find("ABCDE");
    ASSERT_NE(std::string::npos, keys);
    EXPECT_NE(std::string::npos, resumed.find(TestPattern, keys));
    EXPECT_EQ(0, Sim::OutstandingRequests(5) > 1);
    Command(CMD_SEND_TEST_DATA);
    Ticks(100, 100);
    EXPECT_EQ(0, Sim::OutstandingRequests(5));
    EXPECT_EQ(handlesAtRest, Sim::OpenHandles());
    EXPECT_TRUE(FlatScreenHas(port, "<SETXON set>"));
    EXPECT_EQ(4u, boxes.boxes.size());
    printf("[ figures ] held 37 s, 5 keys typed: %s\n",
           testing::PrintToString(boxes.Texts()).c_str());
}

// --- 4. modal re-entry ---

enum BoxKind {
    POLL_ERROR_BOX,
    COM_SETTINGS_DIALOG,
    LOOPBACK_QUESTION,
    LOOPBACK_WRITE_ERROR,
    LOOPBACK_READ_ERROR,
    LOOPBACK_RESULT,
};

struct ModalCase {
    BoxKind kind;
    UINT message;
    const char* name;
};

static void PrintTo(const ModalCase& c, std::ostream* out)
{
    *out << c.name;
}

static UINT ArrivingMessage;
static bool Arrived;

// Arrives at the frame as it would from the box's own message loop. A log-off
// query leaves the frame alive, so the user closes it afterwards.
static void ArriveAtFrame()
{
    if (Arrived)
        return;
    Arrived = true;
    SendMessageA(FrameWindow, ArrivingMessage, 0, 0);
    if (ArrivingMessage == WM_QUERYENDSESSION && IsWindow(FrameWindow))
        PostMessageA(FrameWindow, WM_CLOSE, 0, 0);
}

static void CALLBACK ArriveWhileDialogIsUp(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (!FindWindowA("#32770", "COM Settings"))
        return;
    KillTimer(nullptr, timer);
    ArriveAtFrame();
}

static void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    PostQuitMessage(99);
}

class ReliabilityModal : public ReliabilityTest, public testing::WithParamInterface<ModalCase>
{
};

TEST_P(ReliabilityModal, EveryPortWindowClosesAndTheLoopEndsWithZero)
{
    const ModalCase& c = GetParam();
    ArrivingMessage = c.message;
    Arrived = false;
    Sim::AddPorts(5, 2);
    Sim::AddPorts(7, 1, Sim::WIRE_LOOPBACK_PLUG);
    OpenPortWindow(5);
    OpenPortWindow(6);
    PortRecord* target = OpenPortWindow(7);
    ASSERT_TRUE(target);
    ASSERT_EQ(target->window, ActivePortWindow());
    Command(CMD_SEND_TEST_DATA);
    HWND frame = FrameWindow;

    std::string due;
    switch (c.kind) {
    case POLL_ERROR_BOX:
        Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_GEN_FAILURE, 1, 6);
        due = "GetCommModemStatus Error:31";
        break;
    case COM_SETTINGS_DIALOG:
        SetTimer(nullptr, 0, 1, ArriveWhileDialogIsUp);
        PostMessageA(frame, WM_COMMAND, CMD_PORT_SETTINGS, 0);
        break;
    case LOOPBACK_QUESTION:
        due = "Place the loopback plug on COM7";
        PostMessageA(frame, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
        break;
    case LOOPBACK_WRITE_ERROR:
        Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_GEN_FAILURE, 1, 7);
        due = "Com Write Error:31";
        PostMessageA(frame, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
        break;
    case LOOPBACK_READ_ERROR:
        Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 7);
        due = "Error On Read!: 31 ,Wanted: 8";
        PostMessageA(frame, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
        break;
    case LOOPBACK_RESULT:
        due = "COM7 passed the loopback test.";
        PostMessageA(frame, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
        break;
    }
    boxes.onBox = [&](const ShownBox& box) {
        if (box.text == due)
            ArriveAtFrame();
    };
    UINT_PTR guard = SetTimer(nullptr, 0, 20000, GiveUp);
    int code = RunMessageLoop(accelerators);
    KillTimer(nullptr, guard);

    EXPECT_TRUE(Arrived);
    EXPECT_EQ(0, code);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_EQ(nullptr, FindWindowA("#32770", "COM Settings"));
    // No box of a closed port may follow the one the message arrived in.
    if (!due.empty()) {
        ASSERT_FALSE(boxes.boxes.empty());
        EXPECT_EQ(due, boxes.boxes.back().text) << testing::PrintToString(boxes.Texts());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ReliabilityModal,
    testing::Values(ModalCase{POLL_ERROR_BOX, WM_CLOSE, "PollErrorBoxClose"},
                    ModalCase{POLL_ERROR_BOX, WM_QUERYENDSESSION, "PollErrorBoxLogOff"},
                    ModalCase{COM_SETTINGS_DIALOG, WM_CLOSE, "ComSettingsClose"},
                    ModalCase{COM_SETTINGS_DIALOG, WM_QUERYENDSESSION, "ComSettingsLogOff"},
                    ModalCase{LOOPBACK_QUESTION, WM_CLOSE, "LoopbackQuestionClose"},
                    ModalCase{LOOPBACK_QUESTION, WM_QUERYENDSESSION, "LoopbackQuestionLogOff"},
                    ModalCase{LOOPBACK_WRITE_ERROR, WM_CLOSE, "LoopbackWriteErrorClose"},
                    ModalCase{LOOPBACK_WRITE_ERROR, WM_QUERYENDSESSION, "LoopbackWriteErrorLogOff"},
                    ModalCase{LOOPBACK_READ_ERROR, WM_CLOSE, "LoopbackReadErrorClose"},
                    ModalCase{LOOPBACK_READ_ERROR, WM_QUERYENDSESSION, "LoopbackReadErrorLogOff"},
                    ModalCase{LOOPBACK_RESULT, WM_CLOSE, "LoopbackResultClose"},
                    ModalCase{LOOPBACK_RESULT, WM_QUERYENDSESSION, "LoopbackResultLogOff"}),
    [](const testing::TestParamInfo<ModalCase>& info) { return std::string(info.param.name); });

// --- 6. hostile dialog input ---

typedef ReliabilityTest ReliabilityDialogInput;

static std::string TypedQuantity;
static std::string FirstPortItem;
static int DialogsActedOn;
static int AcceptedLength;

// Types into the quantity field key by key, as a user would, while the
// dialog's own message loop runs, then presses OK.
static void CALLBACK TypeIntoOpenPorts(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = FindWindowA("#32770", "Open Ports");
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    DialogsActedOn++;
    HWND from = GetDlgItem(dialog, IDC_FROM_PORT);
    int index = (int)SendMessageA(from, CB_ADDSTRING, 0, (LPARAM)FirstPortItem.c_str());
    SendMessageA(from, CB_SETCURSEL, (WPARAM)index, 0);
    HWND edit = FindWindowExA(GetDlgItem(dialog, IDC_QUANTITY), nullptr, "Edit", nullptr);
    SetWindowTextA(edit, "");
    for (char c : TypedQuantity)
        SendMessageA(edit, WM_CHAR, (WPARAM)(unsigned char)c, 0);
    AcceptedLength = GetWindowTextLengthA(edit);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, IDOK));
}

TEST_F(ReliabilityDialogInput, HostileQuantitiesTypedWhilePortsRunShowOnlyTheirBoxes)
{
    Sim::AddPorts(5, 2);
    Sim::AddPort(7);
    ASSERT_TRUE(OpenPortWindow(5));
    ASSERT_TRUE(OpenPortWindow(6));
    Command(CMD_SEND_TEST_DATA);
    struct Case {
        std::string quantity;
        const char* firstPort;
        Texts boxes;
    };
    // From the highest port number a saturated quantity is one port long.
    const Texts lastPortMissing = {"Error from CreateFile: 2 COM2147483647 0",
                                   "Port failed to open."};
    const Case cases[] = {
        {"2147483647", "COM2147483647", lastPortMissing},
        {"99999999999999999999", "COM2147483647", lastPortMissing},
        {std::string(57, '9'), "COM2147483647", lastPortMissing},
        {std::string(300, '9'), "COM2147483647", lastPortMissing},
        {"-5", "COM7", {}},
        {"", "COM7", {}},
        {"-2147483648", "COM7", {}},
        {"1", "COM7", {}},
    };
    for (const Case& c : cases) {
        boxes.boxes.clear();
        TypedQuantity = c.quantity;
        FirstPortItem = c.firstPort;
        DialogsActedOn = 0;
        SetTimer(nullptr, 0, 1, TypeIntoOpenPorts);
        Command(CMD_OPEN_PORTS);
        EXPECT_EQ(1, DialogsActedOn) << c.quantity.size() << " characters";
        EXPECT_EQ(c.boxes, boxes.Texts()) << c.quantity;
        printf("[ figures ] %u characters typed, %d taken by the field, boxes %s\n",
               (unsigned)c.quantity.size(), AcceptedLength,
               testing::PrintToString(boxes.Texts()).c_str());
    }
    EXPECT_TRUE(Sim::IsOpen(7));
    EXPECT_EQ(3, PortWindowCount());
    Ticks(20, 20);
    EXPECT_EQ(Texts{}, boxes.Texts());
    EXPECT_FALSE(Sim::PeerTake(5).empty());
}
