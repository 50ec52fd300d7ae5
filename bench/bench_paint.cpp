#include "bench/bench.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "view/paint.h"

#include <stdio.h>
#include <string.h>

static void FillScreen(PortRecord* port)
{
    char line[SCREEN_COLUMNS + 1];
    for (int row = 0; row < SCREEN_LINES; row++) {
        for (int i = 0; i < SCREEN_COLUMNS; i++)
            line[i] = (char)('!' + (row + i) % 90);
        line[SCREEN_COLUMNS] = 0;
        AppendText(port, line, SCREEN_COLUMNS);
    }
}

// Mean microseconds of RedrawPort after `prepare` ran, over `rounds` rounds;
// the window's messages are handled between rounds, outside the timing.
static double TimeRedraw(PortRecord* port, int rounds, int forced,
                         void (*prepare)(PortRecord*, int))
{
    double spent = 0;
    for (int i = 0; i < rounds; i++) {
        prepare(port, i);
        double start = WallSeconds();
        RedrawPort(port, forced);
        spent += WallSeconds() - start;
        port->windowDirty = 0;
        if (i % 32 == 31)
            PumpMessages();
    }
    PumpMessages();
    return spent / rounds * 1e6;
}

static void ChangeCurrentLine(PortRecord* port, int round)
{
    char text[48];
    snprintf(text, sizeof text, "\rround %d of the one-row repaint, same line", round);
    AppendText(port, text, 0);
}

static void NothingToPrepare(PortRecord*, int) {}

static void AdvanceOneLine(PortRecord* port, int round)
{
    char text[96];
    int length = snprintf(
        text, sizeof text,
        "\r\nline %06d abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789", round);
    AppendText(port, text, length);
}

// What a busy port does at each poll: more new lines than rows shown.
static void AdvancePastEveryRow(PortRecord* port, int round)
{
    for (int i = 0; i < 40; i++)
        AdvanceOneLine(port, round * 40 + i);
}

static void PrintMicroseconds(const char* label, double microseconds, int rows)
{
    char figure[64];
    if (rows > 1)
        snprintf(figure, sizeof figure, "%8.1f us (%.2f us/row)", microseconds,
                 microseconds / (rows > SCREEN_LINES ? SCREEN_LINES : rows));
    else
        snprintf(figure, sizeof figure, "%8.1f us", microseconds);
    PrintRow(label, figure, "", "");
}

void RunPaintBenchmarks(bool quick)
{
    PrintSection("RedrawPort on a shown CS_OWNDC window, client 640 x 518 (35 text rows)");
    PortRecord* port = new PortRecord;
    port->window = CreateBenchWindow(0, 0);
    RECT client;
    GetClientRect(port->window, &client);
    port->clientWidth = client.right;
    port->clientHeight = client.bottom;
    FillScreen(port);
    RedrawPort(port, 1);
    PumpMessages();
    int rows = port->clientHeight / TEXT_ROW_HEIGHT - 1;
    int scale = quick ? 4 : 1;

    PrintMicroseconds("one dirty row (current line rewritten)",
                      TimeRedraw(port, 4000 / scale, 0, ChangeCurrentLine), 1);
    PrintMicroseconds("nothing changed (no row dirty)",
                      TimeRedraw(port, 4000 / scale, 0, NothingToPrepare), 0);
    char label[80];
    snprintf(label, sizeof label, "current line moved (%d text rows)",
             rows > SCREEN_LINES ? SCREEN_LINES : rows);
    PrintMicroseconds(label, TimeRedraw(port, 1000 / scale, 0, AdvanceOneLine), rows);
    snprintf(label, sizeof label, "ring moved past every row (%d text rows)",
             rows > SCREEN_LINES ? SCREEN_LINES : rows);
    PrintMicroseconds(label, TimeRedraw(port, 1000 / scale, 0, AdvancePastEveryRow), rows);
    snprintf(label, sizeof label, "forced full repaint (lamps, %d text rows)",
             rows > SCREEN_LINES ? SCREEN_LINES : rows);
    PrintMicroseconds(label, TimeRedraw(port, 1000 / scale, 1, NothingToPrepare), rows);

    DetachBenchWindow(port);
    delete port;
    PumpMessages();
}
