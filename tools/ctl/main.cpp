// tarnwickctl: drives a running Tarnwick from outside. Several of Tarnwick's
// commands have no menu item or key and are reached only as WM_COMMAND at the
// frame window; this tool sends them, fills the Open Ports dialog, picks the
// port window that commands act on, and reads back what the program shows.
#include "tools/ctl/ctl.h"

#include <stdio.h>
#include <string.h>

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
    "  status [--json]        counters, signals, holds and line settings of every\n"
    "                         open port, one row per port\n"
    "  screen COMn            the port's 35 screen lines, oldest first, as stored\n"
    "  reset-counters [COMn]  zero the counters of COMn, or of every port\n"
    "  burnin FIRST COUNT --seconds N [--pairs] [--report FILE] [--junit FILE]\n"
    "       [--errors FILE] [line settings as for open]\n"
    "                         open COMFIRST and the COUNT-1 ports after it (ports\n"
    "                         already open keep their settings), send the test\n"
    "                         pattern on those ports only for N seconds, answer\n"
    "                         every box meanwhile, and judge each port: it passes\n"
    "                         only when it carried at least 90 % of what its line\n"
    "                         could carry, never stalled, and everything it sent\n"
    "                         came back right (README: Burn-in). --pairs judges\n"
    "                         COMFIRST with the port after it, and so on, as\n"
    "                         null-modem pairs. --report writes a CSV row per\n"
    "                         port, --junit JUnit XML, --errors the first pattern\n"
    "                         errors of each port as CSV; they are rewritten every\n"
    "                         10 s. Ctrl-C ends the run early, its ports incomplete.\n"
    "  capture COMn FILE [--as-shown | --timestamps] [--append | --force]\n"
    "                         keep in FILE every byte COMn receives, or with\n"
    "                         --as-shown each line of its screen as the screen\n"
    "                         holds it, markers and all, or with --timestamps the\n"
    "                         same after the local time of the poll that finished\n"
    "                         the line; an existing FILE is refused unless --append\n"
    "                         adds to it or --force replaces it\n"
    "  capture FIRST COUNT FOLDER [the same options]\n"
    "                         the same for a run of open ports, into\n"
    "                         FOLDER\\COMn-rx.bin (-rx.txt for the text forms;\n"
    "                         COMn.bin would name the device); FOLDER is created\n"
    "  capture --stop [COMn]  stop the capture of COMn, or every capture, and wait\n"
    "                         until everything it held is written\n"
    "\n"
    "For tests and scripts:\n"
    "  boxes [--handles]      print the text of each open message box, a line each\n"
    "  dismiss [ok|cancel]    answer every open message box (OK by default) and\n"
    "                         print its text; --handles also prints its handle\n"
    "  post MESSAGE WPARAM LPARAM\n"
    "                         post a window message to the frame, or with --port\n"
    "                         to that port window\n"
    "  wait-polls N           return once Tarnwick has polled its ports N more times\n"
    "  request SIZE [DWDATA]  send a status request of SIZE bytes (zero-padded, up\n"
    "                         to 64 MB) to the query interface and print the reply's\n"
    "                         status, or \"no reply\"\n"
    "  type TEXT              type TEXT into the port window (\\r \\n \\t \\xHH \\\\ escapes)\n"
    "  key NAME               press and release a key: return, escape, tab, back,\n"
    "                         a letter or digit, or a virtual-key number\n"
    "  click X Y [right]      click at X,Y in the port window's client area\n"
    "  lamps                  print the lamps of the port window as painted\n"
    "  pixel X Y              print the colour (RRGGBB) at X,Y of the port window\n"
    "  check-row TEXT [ROW] [--dump PATH]\n"
    "                         compare painted text row ROW (default: the bottom\n"
    "                         row), and the top of the row below, with TEXT as a\n"
    "                         full repaint draws it beside the rows around it;\n"
    "                         --dump writes both as PATH-shown.ppm and\n"
    "                         PATH-expected.ppm\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (no Tarnwick running, no such port\n"
    "window, no answer, a report that could not be written), 2 on a usage error,\n"
    "3 when a burn-in ran and some port failed it, 4 when a burn-in was\n"
    "interrupted.\n";

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
    return CheckRow(target, window, argc, argv);
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
                strcmp(verb, "burnin") == 0 || strcmp(verb, "request") == 0 ||
                strcmp(verb, "wait-polls") == 0 || strcmp(verb, "post") == 0 ||
                strcmp(verb, "capture") == 0;
    if (!known)
        return UsageError("unknown command %s", verb);
    if (command && restCount)
        return UsageError("%s takes no arguments", verb);

    if (strcmp(verb, "burnin") == 0 && CheckBurninArguments(restCount, rest) != EXIT_OK)
        return EXIT_USAGE;
    if (strcmp(verb, "capture") == 0 && CheckCaptureArguments(restCount, rest, next + 1) != EXIT_OK)
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
    if (strcmp(verb, "capture") == 0)
        return RunCapture(target, restCount, rest, next + 1);
    if (strcmp(verb, "request") == 0)
        return SendRawRequest(target, restCount, rest);
    if (strcmp(verb, "wait-polls") == 0)
        return WaitForPolls(target, restCount, rest);
    if (strcmp(verb, "post") == 0)
        return PostRawMessage(chosen ? chosen : target.frame, restCount, rest);
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
