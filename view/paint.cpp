#include "view/paint.h"

#include "port/port_record.h"

#include <string.h>

const char* const SignalRowLabels[LAMP_COUNT + 1] = {"CTS", "DSR", "CD",   "RI",
                                                     "RTS", "DTR", "LOOP", ""};
const char* const HoldRowLabels[LAMP_COUNT + 1] = {"CTS",   "DSR", "CD",   "XOFFH",
                                                   "XOFFS", "EOF", "TXIM", ""};
int SignalLampX[LAMP_COUNT];
int SignalLampWidth[LAMP_COUNT];
int HoldLampX[LAMP_COUNT];
int HoldLampWidth[LAMP_COUNT];

#define LAMP_TOP 1
#define LAMP_BOTTOM 17
#define LAMP_CHAR_WIDTH 10
#define LIT_SIGNAL_COLOUR RGB(128, 255, 128)
#define HOLD_COLOUR RGB(128, 128, 255)
#define TEXT_LEFT 10
#define TEXT_RIGHT 1600

// Which word and bit light each SignalRow lamp, in painting order.
static const unsigned short SignalLampBits[LAMP_COUNT] = {
    SIGNAL_CTS, SIGNAL_DSR, SIGNAL_CD, SIGNAL_RI, SIGNAL_RTS, SIGNAL_DTR, SIGNAL_LOOP};
static const int SignalLampIsOutput[LAMP_COUNT] = {0, 0, 0, 0, 1, 1, 1};

void LayoutLampRows()
{
    int x = 5;
    for (int i = 0; SignalRowLabels[i][0]; i++) {
        SignalLampX[i] = x;
        SignalLampWidth[i] = LAMP_CHAR_WIDTH * (int)strlen(SignalRowLabels[i]);
        x += SignalLampWidth[i] + 2;
        // A wider gap between the inputs and the outputs.
        if (i == 3 || i == 6)
            x += 5;
    }
    x = 60;
    for (int i = 0; HoldRowLabels[i][0]; i++) {
        HoldLampX[i] = x;
        HoldLampWidth[i] = LAMP_CHAR_WIDTH * (int)strlen(HoldRowLabels[i]);
        x += HoldLampWidth[i] + 2;
    }
}

static RECT LampBox(int left, int width)
{
    RECT box = {left, LAMP_TOP, left + width, LAMP_BOTTOM};
    return box;
}

// Draws the lamp's outline filled with `colour`, or with the brush already
// selected when colour is CLR_INVALID. A brush made here is gone on return.
static void DrawLampShape(HDC surface, const RECT& box, COLORREF colour)
{
    HBRUSH brush = nullptr;
    HGDIOBJ previous = nullptr;
    if (colour != CLR_INVALID) {
        brush = CreateSolidBrush(colour);
        previous = SelectObject(surface, brush);
    }
    RoundRect(surface, box.left, box.top, box.right, box.bottom, 6, 8);
    if (brush) {
        SelectObject(surface, previous);
        DeleteObject(brush);
    }
}

static void DrawLampLabel(HDC surface, RECT box, const char* label)
{
    SetBkMode(surface, TRANSPARENT);
    SetTextColor(surface, RGB(0, 0, 0));
    DrawTextA(surface, label, -1, &box, DT_CENTER);
}

static void CopyLabel(char* buffer, const char* label, int lowerCase)
{
    lstrcpynA(buffer, label, 8);
    if (lowerCase)
        CharLowerA(buffer);
}

void PaintSignalLamp(HDC surface, int lit, int index)
{
    if (index < 0 || index >= LAMP_COUNT)
        return;
    char label[8];
    CopyLabel(label, SignalRowLabels[index], !lit);
    RECT box = LampBox(SignalLampX[index], SignalLampWidth[index]);
    SelectObject(surface, GetStockObject(BLACK_PEN));
    SelectObject(surface, GetStockObject(LTGRAY_BRUSH));
    DrawLampShape(surface, box, lit ? LIT_SIGNAL_COLOUR : CLR_INVALID);
    DrawLampLabel(surface, box, label);
}

static int LastHoldLamp()
{
    int last = 0;
    while (last + 1 < LAMP_COUNT && HoldRowLabels[last + 1][0])
        last++;
    return last;
}

void PaintHoldLamp(HDC surface, int index, int clear)
{
    if (clear & 1) {
        int last = LastHoldLamp();
        SelectObject(surface, GetStockObject(WHITE_PEN));
        SelectObject(surface, GetStockObject(WHITE_BRUSH));
        Rectangle(surface, HOLD_ROW_OFFSET, LAMP_TOP,
                  HOLD_ROW_OFFSET + HoldLampX[last] + HoldLampWidth[last], LAMP_BOTTOM);
        return;
    }
    if (index < 0 || index >= LAMP_COUNT)
        return;
    char label[8];
    CopyLabel(label, HoldRowLabels[index], 1);
    SelectObject(surface, GetStockObject(BLACK_PEN));
    SelectObject(surface, GetStockObject(LTGRAY_BRUSH));
    RECT box = LampBox(HOLD_ROW_OFFSET + HoldLampX[index], HoldLampWidth[index]);
    DrawLampShape(surface, box, HOLD_COLOUR);
    DrawLampLabel(surface, box, label);
}

static void PaintSignalRow(HDC surface, PortRecord* port)
{
    port->paintedInputSignals = port->inputSignals;
    port->paintedOutputSignals = port->outputSignals;
    for (int i = 0; i < LAMP_COUNT; i++) {
        if (i == 6 && port->signalLampCount < 7)
            break;
        unsigned short word = SignalLampIsOutput[i] ? port->outputSignals : port->inputSignals;
        PaintSignalLamp(surface, (word & SignalLampBits[i]) != 0, i);
    }
}

static void PaintHoldRow(HDC surface, PortRecord* port)
{
    DWORD holds = HoldFlags(port->lineStatus);
    PaintHoldLamp(surface, 0, 1);
    for (int i = 0; i < LAMP_COUNT; i++)
        if (holds & (1u << i))
            PaintHoldLamp(surface, i, 0);
    port->paintedStatus.holdFlags = holds;
    port->paintedStatus.inQueue = port->lineStatus.cbInQue;
    port->paintedStatus.outQueue = port->lineStatus.cbOutQue;
}

static int RowTop(int row)
{
    return TEXT_ROW_HEIGHT * row + 4;
}

// Writes a row's text, leaving out the characters that lie wholly to the
// right of what the surface can show: the system would clip them anyway, but
// only after the cost of drawing them, and a narrow window shows few of its 80.
static void DrawRowText(HDC surface, int top, const char* text, int length)
{
    RECT visible;
    int shown = GetClipBox(surface, &visible);
    if (shown == NULLREGION || (shown != ERROR && visible.right <= TEXT_LEFT))
        return;
    if (shown != ERROR) {
        int fit = 0;
        SIZE extent;
        if (GetTextExtentExPointA(surface, text, length, visible.right - TEXT_LEFT, &fit, nullptr,
                                  &extent) &&
            fit + 1 < length)
            length = fit + 1; // the character cut by the edge still shows in part
    }
    TextOutA(surface, TEXT_LEFT, top, text, length);
}

// `bottom`, when below the row's band, extends the white band down to it: the
// bottom row's text reaches below its band, where no other row would wipe it.
static void PaintTextRow(HDC surface, int row, const char* text, int bottom = 0)
{
    int top = RowTop(row);
    SelectObject(surface, GetStockObject(WHITE_PEN));
    SelectObject(surface, GetStockObject(WHITE_BRUSH));
    Rectangle(surface, TEXT_LEFT, top, TEXT_RIGHT, bottom > top + 14 ? bottom : top + 14);
    int length = text ? (int)strlen(text) : 0;
    if (length > 0)
        DrawRowText(surface, top, text, length);
}

// Writes a row's text with only the part inside `band` drawn. The font is
// taller than a row, so a row's text reaches into the top of the row below.
static void PaintClippedText(HDC surface, int row, const char* text, int band)
{
    int length = (int)strlen(text);
    if (length == 0)
        return;
    int saved = SaveDC(surface);
    IntersectClipRect(surface, TEXT_LEFT, RowTop(band), TEXT_RIGHT, RowTop(band) + 14);
    DrawRowText(surface, RowTop(row), text, length);
    RestoreDC(surface, saved);
}

// Rows above the 35th have no line of their own: they stay blank rather
// than showing the ring a second time.
static void PaintTextRows(HDC surface, PortRecord* port, int rows, int forced)
{
    int line = port->currentLine;
    for (int row = rows, walked = 0; row >= 1; row--, walked++) {
        if (walked >= SCREEN_LINES) {
            if (forced)
                PaintTextRow(surface, row, nullptr);
            continue;
        }
        ScreenLine& screenLine = port->lines[line];
        if (screenLine.dirty || forced) {
            screenLine.dirty = 0;
            PaintTextRow(surface, row, screenLine.text, row == rows ? port->clientHeight : 0);
        }
        line = line == 0 ? SCREEN_LINES - 1 : line - 1;
    }
}

static int PreviousLine(int line, int steps)
{
    return ((line - steps) % SCREEN_LINES + SCREEN_LINES) % SCREEN_LINES;
}

// Moves the shown rows of the ring (`first` to `rows`) up by `shift` rows.
// Marks the rows whose old pixels could not be copied (the window is
// partly covered) in `repaint`, indexed by row - first. False when nothing
// moved.
static bool ScrollRingRows(HDC surface, int first, int rows, int shift, unsigned char* repaint)
{
    RECT ring = {TEXT_LEFT, RowTop(first), TEXT_RIGHT, RowTop(rows) + 14};
    HRGN uncopied = CreateRectRgn(0, 0, 0, 0);
    if (!uncopied)
        return false;
    bool moved = ScrollDC(surface, 0, -TEXT_ROW_HEIGHT * shift, &ring, &ring, uncopied, nullptr);
    if (moved) {
        RECT box;
        if (GetRgnBox(uncopied, &box) != NULLREGION) {
            for (int row = first; row <= rows; row++) {
                RECT band = {TEXT_LEFT, RowTop(row), TEXT_RIGHT, RowTop(row) + 14};
                if (RectInRegion(uncopied, &band))
                    repaint[row - first] = 1;
            }
        }
    }
    DeleteObject(uncopied);
    return moved;
}

// The ring moved on by `shift` lines since the last paint, fewer than the
// rows shown: the rows still shown are moved up on the surface and only
// rows that differ from a full repaint are painted. Those are the rows of
// changed lines and the rows just below them (a row's text reaches into the
// row below), the top row (it came with the text of a line now gone above
// it) and rows the surface could not copy. False when nothing was moved.
static bool PaintMovedTextRows(HDC surface, PortRecord* port, int rows, int shift)
{
    int first = rows - SCREEN_LINES + 1;
    if (first < 1)
        first = 1;
    unsigned char repaint[SCREEN_LINES];
    memset(repaint, 0, sizeof repaint);
    int offset = first; // repaint[] is indexed by row - offset
    if (!ScrollRingRows(surface, first, rows, shift, repaint))
        return false;
    repaint[0] = 1;
    for (int row = first; row <= rows; row++) {
        const ScreenLine& line = port->lines[PreviousLine(port->currentLine, rows - row)];
        if (line.dirty)
            repaint[row - offset] = 1;
    }
    for (int row = rows; row > first; row--)
        if (repaint[row - 1 - offset])
            repaint[row - offset] = 1;
    for (int row = rows; row >= first; row--) {
        if (!repaint[row - offset])
            continue;
        ScreenLine& line = port->lines[PreviousLine(port->currentLine, rows - row)];
        line.dirty = 0;
        if (row < rows && !repaint[row + 1 - offset]) {
            // Only this row's own band: the row below keeps its pixels.
            int saved = SaveDC(surface);
            IntersectClipRect(surface, TEXT_LEFT, RowTop(row), TEXT_RIGHT, RowTop(row) + 14);
            PaintTextRow(surface, row, line.text);
            RestoreDC(surface, saved);
        } else {
            PaintTextRow(surface, row, line.text, row == rows ? port->clientHeight : 0);
        }
        if (row > first && !repaint[row - 1 - offset])
            PaintClippedText(surface, row - 1,
                             port->lines[PreviousLine(port->currentLine, rows - row + 1)].text,
                             row);
    }
    return true;
}

void RedrawPort(PortRecord* port, int forced)
{
    // Without a window GetDC would hand out the whole screen.
    if (!port || !port->window)
        return;
    if (port->clientHeight < TEXT_ROW_HEIGHT)
        return;
    int rows = port->clientHeight / TEXT_ROW_HEIGHT - 1;
    if (rows < 1)
        return;
    HDC surface = GetDC(port->window);
    SetBkMode(surface, TRANSPARENT);
    SetTextColor(surface, RGB(0, 0, 0));
    if (forced || port->inputSignals != port->paintedInputSignals ||
        port->outputSignals != port->paintedOutputSignals)
        PaintSignalRow(surface, port);
    if (forced || HoldFlags(port->lineStatus) != port->paintedStatus.holdFlags)
        PaintHoldRow(surface, port);
    int textForced = forced;
    bool textPainted = false;
    if (port->paintedLine != port->currentLine) {
        int shift = PreviousLine(port->currentLine, port->paintedLine);
        port->paintedLine = port->currentLine;
        int shown = rows < SCREEN_LINES ? rows : SCREEN_LINES;
        if (!forced && shift < shown)
            textPainted = PaintMovedTextRows(surface, port, rows, shift);
        if (!textPainted)
            textForced = 1;
    }
    if (!textPainted)
        PaintTextRows(surface, port, rows, textForced);
    ReleaseDC(port->window, surface);
}

void ClearScreen(PortRecord* port)
{
    if (!port)
        return;
    for (ScreenLine& line : port->lines)
        line.text[0] = 0;
    port->currentLine = 0;
    port->currentColumn = 0;
    RedrawPort(port, 1);
}
