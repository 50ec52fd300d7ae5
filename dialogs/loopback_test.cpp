#include "common/message_box.h"
#include "common/resource.h"
#include "common/state.h"
#include "dialogs/dialogs.h"
#include "port/line_control.h"
#include "port/loopback.h"
#include "port/port_record.h"
#include "port/status.h"
#include "port/transfer.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#define LOOPBACK_CAPTION "Tarnwick - Loopback Test"
#define LOOPBACK_WAIT_MS 200
#define LOOPBACK_TEXT_LENGTH 8

// DCB flag bits that hand DTR or RTS to the driver (handshake, toggle).
#define DCB_DTR_HANDSHAKE_BIT 0x20
#define DCB_RTS_HANDSHAKE_BIT 0x2000

#define ERROR_DATA_COUNT 0x10
#define ERROR_DATA_END 0x20
#define ERROR_DATA_START 0x40

#define RI_OFF_AT_REST 0x1
#define RI_FOLLOWS_RTS 0x2

struct SignalStep {
    DWORD dtrFunction;
    DWORD rtsFunction;
    DWORD statusMask;
    DWORD expected;
    DWORD errorBit;
};

// The plug wires RTS to CTS, and DTR to DSR and CD. CD is checked only in the
// steps where DTR and RTS agree, so a plug that feeds CD from RTS passes too.
#define CTS_DSR (MS_CTS_ON | MS_DSR_ON)
#define CTS_DSR_CD (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON)

static const SignalStep SignalSteps[4] = {
    {CLRDTR, CLRRTS, CTS_DSR_CD, 0, 0x01},
    {CLRDTR, SETRTS, CTS_DSR, MS_CTS_ON, 0x02},
    {SETDTR, CLRRTS, CTS_DSR, MS_DSR_ON, 0x04},
    {SETDTR, SETRTS, CTS_DSR_CD, CTS_DSR_CD, 0x08},
};

// The state of one run of the test.
struct LoopbackRun {
    PortRecord* port;
    RecordWatch watch;
    DCB saved;
    DCB working;
    int settingsChanged;
    DWORD errorBits;
    DWORD riBits;
    unsigned char received[LOOPBACK_TEXT_LENGTH];
};

// The bit-field word of a DCB: the member after BaudRate.
static DWORD DcbFlags(const DCB& dcb)
{
    DWORD flags;
    memcpy(&flags, (const char*)&dcb + offsetof(DCB, BaudRate) + sizeof dcb.BaudRate, sizeof flags);
    return flags;
}

static void SwitchOffTestData()
{
    if (!TestDataOn)
        return;
    TestDataOn = 0;
    CheckMenuItem(AppMenu, CMD_SEND_TEST_DATA, MF_BYCOMMAND | MF_UNCHECKED);
}

static int AskForPlug(LoopbackRun* run)
{
    char text[80];
    snprintf(text, sizeof text, "Place the loopback plug on %s", run->port->name);
    return ShowMessageBox(GetFocus(), text, LOOPBACK_CAPTION, MB_OKCANCEL);
}

static void TakeOutOfInternalLoop(PortRecord* port)
{
    if (!(port->outputSignals & SIGNAL_LOOP))
        return;
    SetLoopback(port, 0);
    port->outputSignals &= ~SIGNAL_LOOP;
}

// With handshake or toggle control the driver would fight the test for DTR and RTS.
static void TakeOverHandshakeLines(LoopbackRun* run)
{
    GetDeviceSettings(run->port, &run->saved);
    DWORD flags = DcbFlags(run->saved);
    if (!(flags & DCB_DTR_HANDSHAKE_BIT) && !(flags & DCB_RTS_HANDSHAKE_BIT))
        return;
    // Starting from the saved copy keeps a failed re-read from applying junk.
    run->working = run->saved;
    GetDeviceSettings(run->port, &run->working);
    run->settingsChanged = 1;
    run->working.fRtsControl = RTS_CONTROL_DISABLE;
    run->working.fDtrControl = DTR_CONTROL_DISABLE;
    SetDeviceSettings(run->port, &run->working);
}

static void RestoreHandshakeLines(LoopbackRun* run)
{
    if (run->settingsChanged)
        SetDeviceSettings(run->port, &run->saved);
}

static void RunSignalStep(LoopbackRun* run, int index)
{
    const SignalStep& step = SignalSteps[index];
    PortRecord* port = run->port;
    DriveLine(port, step.dtrFunction);
    DriveLine(port, step.rtsFunction);
    port->outputSignals = (unsigned short)((step.dtrFunction == SETDTR ? SIGNAL_DTR : 0) |
                                           (step.rtsFunction == SETRTS ? SIGNAL_RTS : 0));
    SettleLine(LOOPBACK_WAIT_MS);
    // An unreadable status counts as every input off.
    DWORD status = ReadModemInputs(port);
    if ((status & step.statusMask) != step.expected)
        run->errorBits |= step.errorBit;
    if (index == 0 && !(status & MS_RING_ON))
        run->riBits |= RI_OFF_AT_REST;
    if (index == 1 && (status & MS_RING_ON))
        run->riBits |= RI_FOLLOWS_RTS;
}

static void RunSignalSteps(LoopbackRun* run)
{
    for (int i = 0; i < 4; i++)
        RunSignalStep(run, i);
}

// Returns 0 when the record was deleted inside a box shown meanwhile.
static int RunDataEcho(LoopbackRun* run)
{
    static const char text[LOOPBACK_TEXT_LENGTH] = "TESTING";
    WritePort(run->port, text, LOOPBACK_TEXT_LENGTH);
    if (run->watch.closed)
        return 0;
    SettleLine(LOOPBACK_WAIT_MS);
    QueueCounts counts = {0, 0};
    PollLineStatus(run->port, &counts);
    if (run->watch.closed)
        return 0;
    if (counts.inQueue != LOOPBACK_TEXT_LENGTH) {
        run->errorBits |= ERROR_DATA_COUNT;
        return 1;
    }
    DWORD count = 0;
    ReadPort(run->port, run->received, LOOPBACK_TEXT_LENGTH, &count);
    if (run->watch.closed)
        return 0;
    if (run->received[7] != 0)
        run->errorBits |= ERROR_DATA_END;
    if (run->received[0] != 'T')
        run->errorBits |= ERROR_DATA_START;
    return 1;
}

static void ShowResult(LoopbackRun* run)
{
    char text[96];
    if (run->errorBits) {
        snprintf(text, sizeof text, "Port failed loopback test(Error:%lxH)",
                 (unsigned long)run->errorBits);
        ShowMessageBox(GetFocus(), text, LOOPBACK_CAPTION, MB_ICONERROR);
        return;
    }
    snprintf(text, sizeof text, "%s passed the loopback test.%s", run->port->name,
             run->riBits == (RI_OFF_AT_REST | RI_FOLLOWS_RTS) ? " RI present." : "");
    ShowMessageBox(GetFocus(), text, LOOPBACK_CAPTION, MB_ICONINFORMATION);
}

// Every box runs a message loop in which a log-off can close the port window
// and delete the record, so after each one the watch is checked first.
static void RunLoopbackSteps(LoopbackRun* run)
{
    PortRecord* port = run->port;
    if (AskForPlug(run) == IDCANCEL || run->watch.closed)
        return;
    port->testInProgress = 1;
    TakeOutOfInternalLoop(port);
    AbortDeviceTransfers(port);
    SettleLine(LOOPBACK_WAIT_MS);
    TakeOverHandshakeLines(run);
    RunSignalSteps(run);
    if (!RunDataEcho(run))
        return;
    RestoreHandshakeLines(run);
    ShowResult(run);
    if (run->watch.closed)
        return;
    port->testInProgress = 0;
}

void RunLoopbackTest(PortRecord* port)
{
    LoopbackRun run;
    memset(&run, 0, sizeof run);
    run.port = port;
    run.saved.DCBlength = sizeof(DCB);
    run.working.DCBlength = sizeof(DCB);
    SwitchOffTestData();
    WatchRecord(&run.watch, port);
    RunLoopbackSteps(&run);
    UnwatchRecord(&run.watch);
}
