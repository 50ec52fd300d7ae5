#include "view/paint.h"

#include "port/capture.h"
#include "port/device.h"
#include "port/port_record.h"
#include "view/text_rows.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

int SignalLampX[LAMP_COUNT];
int SignalLampWidth[LAMP_COUNT];
int HoldLampX[LAMP_COUNT];
int HoldLampWidth[LAMP_COUNT];

// Taller windows are painted without comparing rows.
#define TEXT_ROWS_COMPARED 150

// Which word and bit light each SignalRow lamp, in painting order.
static const unsigned short SignalLampBits[LAMP_COUNT] = {
    SIGNAL_CTS, SIGNAL_DSR, SIGNAL_CD, SIGNAL_RI, SIGNAL_RTS, SIGNAL_DTR, SIGNAL_LOOP};
static const int SignalLampIsOutput[LAMP_COUNT] = {0, 0, 0, 0, 1, 1, 1};

DWORD PaintPeriodMs = PAINT_PERIOD_MS;

// The lamp labels' and text rows' font (CreateRowFont), made once; it lives
// as long as the program.
static HFONT RowFont = nullptr;
static bool RowFontChosen = false;

void LayoutLampRows()
{
    if (!RowFontChosen)
        RowFont = CreateRowFont();
    RowFontChosen = true;
    LayoutLampRow(SignalRowLabels, 1, SignalLampX, SignalLampWidth);
    LayoutLampRow(HoldRowLabels, 0, HoldLampX, HoldLampWidth);
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
        if (i == LAMP_LOOP && port->signalLampCount < LAMP_COUNT)
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

// The surface's clip box, asked for once per repaint: with many ports each
// call's overhead counts.
struct Visible {
    int kind; // GetClipBox result
    RECT box;
};

// What writing rows needs from the surface, looked up once per repaint
// rather than once per row.
struct RowSurface {
    HDC dc;
    int shown;        // GetClipBox result
    int visibleRight; // right edge of the clip box
};

// Advance widths of the surface's font, to find where a row leaves the
// window without asking the system for every row. Refetched when the font
// is another one.
static HGDIOBJ WidthFont = nullptr;
static INT CharWidths[256];

static bool LoadCharWidths(HDC surface)
{
    HGDIOBJ font = GetCurrentObject(surface, OBJ_FONT);
    if (font && font == WidthFont)
        return true;
    WidthFont = nullptr;
    if (!font || !GetCharWidth32A(surface, 0, 255, CharWidths))
        return false;
    WidthFont = font;
    return true;
}

static RowSurface BeginRows(HDC surface, const Visible& visible)
{
    RowSurface rows;
    rows.dc = surface;
    rows.shown = visible.kind;
    rows.visibleRight = visible.box.right;
    BeginTextRows(surface, nullptr); // the row font is already selected
    if (rows.shown != ERROR && rows.shown != NULLREGION && !LoadCharWidths(surface))
        rows.shown = ERROR; // write whole rows and let the system clip them
    return rows;
}

// How many characters of `text` to write: those wholly or partly left of
// `right`. The others the system would clip anyway, but only after the cost
// of drawing them, and a narrow window shows few of its 80.
static int ShownLength(const char* text, int length, int right)
{
    int room = right - TEXT_LEFT;
    int extent = 0;
    for (int i = 0; i < length; i++) {
        extent += CharWidths[(unsigned char)text[i]];
        if (extent > room)
            return i + 1; // the character cut by the edge still shows in part
    }
    return length;
}

// How many characters of a row's text are worth writing.
static int WrittenLength(const RowSurface& surface, const char* text)
{
    int length = text ? (int)strlen(text) : 0;
    if (length == 0 || surface.shown == NULLREGION)
        return 0;
    if (surface.shown == ERROR)
        return length;
    if (surface.visibleRight <= TEXT_LEFT)
        return 0;
    return ShownLength(text, length, surface.visibleRight);
}

// Writes a row's text; with `band`, only the part inside it.
static void DrawRowText(const RowSurface& surface, int row, const char* text, const RECT* band)
{
    WriteRowText(surface.dc, row, text, WrittenLength(surface, text), band);
}

static int PreviousLine(int line, int steps)
{
    return ((line - steps) % SCREEN_LINES + SCREEN_LINES) % SCREEN_LINES;
}

// The line shown in `row`, or null for rows above the 35th: those have no
// line of their own and stay blank rather than showing the ring again.
static ScreenLine* RowLine(PortRecord* port, int rows, int row)
{
    int age = rows - row;
    if (age >= SCREEN_LINES)
        return nullptr;
    return &port->lines[PreviousLine(port->currentLine, age)];
}

// Paints rows `top` to `bottom` as a full repaint does (DrawTextRows). The
// bottom row of the window wipes down to the client's bottom edge, where its
// own text spills and nothing else would clear it. With `ownBandOnly` the
// run's last row writes only inside its band: the row below keeps its pixels.
static void PaintRowRun(const RowSurface& surface, PortRecord* port, int rows, int top, int bottom,
                        bool ownBandOnly)
{
    int fillBottom = RowTop(bottom) + TEXT_ROW_HEIGHT;
    if (bottom == rows && port->clientHeight > fillBottom)
        fillBottom = port->clientHeight;
    int first = rows - SCREEN_LINES + 1 > top ? rows - SCREEN_LINES + 1 : top;
    if (first > bottom) {
        FillRowBands(surface.dc, top, fillBottom);
        return;
    }
    if (first > top) // rows above the 35th, blank
        FillRowBands(surface.dc, top, RowTop(first));
    const char* texts[SCREEN_LINES];
    int lengths[SCREEN_LINES];
    int count = bottom - first + 1;
    for (int i = 0; i < count; i++) {
        ScreenLine* line = RowLine(port, rows, first + i);
        line->dirty = 0;
        texts[i] = line->text;
        lengths[i] = WrittenLength(surface, line->text);
    }
    DrawTextRows(surface.dc, first, count, texts, lengths, fillBottom, ownBandOnly);
}

// What the text rows of a window show as far as they can be seen: the text a
// full repaint writes in each row, by age (0 = bottom row), for the client
// height it was painted at. A busy port moves its ring on by many lines at
// each poll, yet most of what a covered, narrow or tiled window shows of
// each row stays the same: such rows are not painted again. Kept in the
// window's user data; the window's owner frees it with ForgetSeenRows.
struct SeenRows {
    int rows;
    int clientHeight;
    char text[SCREEN_LINES][sizeof(ScreenLine::text)];
};

static SeenRows* SeenRowsOf(HWND window)
{
    SeenRows* seen = (SeenRows*)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!seen) {
        seen = (SeenRows*)calloc(1, sizeof *seen);
        if (seen)
            SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)seen);
    }
    return seen;
}

void ForgetSeenRows(HWND window)
{
    free((SeenRows*)SetWindowLongPtrA(window, GWLP_USERDATA, 0));
}

static void RememberSeenRows(SeenRows* seen, PortRecord* port, int rows)
{
    if (!seen)
        return;
    seen->rows = rows;
    seen->clientHeight = port->clientHeight;
    for (int age = 0; age < SCREEN_LINES && age < rows; age++)
        memcpy(seen->text[age], port->lines[PreviousLine(port->currentLine, age)].text,
               sizeof seen->text[age]);
}

// The band of `row` in y; the bottom row's reaches down to the client's edge.
static void BandRange(PortRecord* port, int rows, int row, int* top, int* bottom)
{
    *top = RowTop(row);
    *bottom = RowTop(row) + TEXT_ROW_HEIGHT;
    if (row == rows && port->clientHeight > *bottom)
        *bottom = port->clientHeight;
}

// How far right each row band can be seen, indexed by row (0 when hidden).
// False when the visible part of the window is not known.
static bool SeenRightEdges(HDC surface, const Visible& visible, PortRecord* port, int rows,
                           int* right)
{
    int kind = visible.kind;
    RECT box = visible.box;
    if (kind == ERROR)
        return false;
    std::vector<RECT> parts(1, box);
    if (kind == NULLREGION) {
        parts.clear();
    } else if (kind == COMPLEXREGION) {
        parts.clear();
        HRGN shape = CreateRectRgn(0, 0, 0, 0);
        POINT origin;
        bool known =
            shape && GetRandomRgn(surface, shape, SYSRGN) == 1 && GetDCOrgEx(surface, &origin);
        DWORD size = known ? GetRegionData(shape, 0, nullptr) : 0;
        std::vector<char> data(size ? size : 1);
        known = known && size && GetRegionData(shape, size, (RGNDATA*)data.data()) == size;
        if (shape)
            DeleteObject(shape);
        if (!known)
            return false;
        const RGNDATA* region = (const RGNDATA*)data.data();
        const RECT* rects = (const RECT*)region->Buffer;
        for (DWORD i = 0; i < region->rdh.nCount; i++) {
            RECT part = rects[i];
            OffsetRect(&part, -origin.x, -origin.y); // the system region is in screen pixels
            parts.push_back(part);
        }
    }
    for (int row = 1; row <= rows; row++) {
        int top, bottom;
        BandRange(port, rows, row, &top, &bottom);
        right[row] = 0;
        for (const RECT& part : parts)
            if (part.top < bottom && part.bottom > top && part.right > right[row])
                right[row] = part.right;
    }
    return true;
}

// Whether `a` and `b` look the same left of `right`: the same characters up
// to the first one that starts at or beyond it, which is compared too since
// a glyph may reach a little left of where it starts.
static bool SameLeftOf(const char* a, const char* b, int right)
{
    int x = TEXT_LEFT;
    for (int i = 0;; i++) {
        if (a[i] != b[i])
            return false;
        if (!a[i] || x >= right)
            return true;
        x += CharWidths[(unsigned char)a[i]];
    }
}

// Marks in `unchanged` (by row) the rows whose band would show what it
// shows now: its own text and the row's above, which reaches into it, are
// the same as far as the band can be seen. False when nothing is known.
static bool FindUnchangedRows(HDC surface, const Visible& visible, PortRecord* port, int rows,
                              const SeenRows* seen, bool* unchanged)
{
    if (!seen || seen->rows != rows || seen->clientHeight != port->clientHeight ||
        !LoadCharWidths(surface))
        return false;
    int right[TEXT_ROWS_COMPARED + 1];
    if (rows > TEXT_ROWS_COMPARED || !SeenRightEdges(surface, visible, port, rows, right))
        return false;
    const char* above = "";
    const char* seenAbove = "";
    for (int row = 1; row <= rows; row++) {
        int age = rows - row;
        ScreenLine* line = RowLine(port, rows, row);
        const char* text = line ? line->text : "";
        const char* seenText = age < SCREEN_LINES ? seen->text[age] : "";
        unchanged[row] =
            SameLeftOf(text, seenText, right[row]) && SameLeftOf(above, seenAbove, right[row]);
        above = text;
        seenAbove = seenText;
    }
    return true;
}

// Paints the rows whose line is dirty, or all with `forced`; when the rows
// were compared (`unchanged`, by row, not null), exactly the rows that changed.
// Without the ring moving only the bottom row's line changes.
static void PaintTextRows(HDC surface, const Visible& visible, PortRecord* port, int rows,
                          int forced, const bool* unchanged)
{
    RowSurface rowSurface = {};
    int runBottom = 0;
    for (int row = rows; row >= 0; row--) {
        bool paint = false;
        if (row >= 1) {
            ScreenLine* line = RowLine(port, rows, row);
            paint = unchanged ? !unchanged[row] : forced || (line && line->dirty);
            if (!paint && unchanged && line)
                line->dirty = 0;
        }
        if (paint && !runBottom)
            runBottom = row;
        if (!paint && runBottom) {
            if (!rowSurface.dc)
                rowSurface = BeginRows(surface, visible);
            int top = row + 1;
            // An unchanged row below keeps its pixels; the unchanged row above
            // reaches into the run's top band.
            PaintRowRun(rowSurface, port, rows, top, runBottom, runBottom < rows);
            if (row >= 1) {
                RECT band = RowBand(top);
                ScreenLine* line = RowLine(port, rows, row);
                DrawRowText(rowSurface, row, line ? line->text : nullptr, &band);
            }
            runBottom = 0;
        }
    }
}

// Moves the shown rows of the ring (`first` to `rows`) up by `shift` rows.
// Marks the rows whose old pixels could not be copied (the window is
// partly covered) in `repaint`, indexed by row - first. False when nothing
// moved.
static bool ScrollRingRows(HDC surface, int first, int rows, int shift, unsigned char* repaint)
{
    RECT ring = {0, RowTop(first), TEXT_RIGHT, RowTop(rows) + TEXT_ROW_HEIGHT};
    HRGN uncopied = CreateRectRgn(0, 0, 0, 0);
    if (!uncopied)
        return false;
    bool moved = ScrollDC(surface, 0, -TEXT_ROW_HEIGHT * shift, &ring, &ring, uncopied, nullptr);
    if (moved) {
        RECT box;
        if (GetRgnBox(uncopied, &box) != NULLREGION) {
            for (int row = first; row <= rows; row++) {
                RECT band = RowBand(row);
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
static bool PaintMovedTextRows(HDC surface, const Visible& visible, PortRecord* port, int rows,
                               int shift)
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
    for (int row = first; row <= rows; row++)
        if (RowLine(port, rows, row)->dirty)
            repaint[row - offset] = 1;
    for (int row = rows; row > first; row--)
        if (repaint[row - 1 - offset])
            repaint[row - offset] = 1;
    RowSurface rowSurface = BeginRows(surface, visible);
    int runBottom = 0;
    for (int row = rows; row >= first - 1; row--) {
        bool paint = row >= first && repaint[row - offset];
        if (paint && !runBottom)
            runBottom = row;
        if (paint || !runBottom)
            continue;
        int top = row + 1;
        PaintRowRun(rowSurface, port, rows, top, runBottom, runBottom < rows);
        if (top > first) {
            // The text of the unchanged row above reaches into the run's top band.
            RECT band = RowBand(top);
            DrawRowText(rowSurface, row, RowLine(port, rows, row)->text, &band);
        }
        runBottom = 0;
    }
    return true;
}

static int CountDirtyRows(PortRecord* port, int rows)
{
    int count = 0;
    for (int row = 1; row <= rows; row++) {
        ScreenLine* line = RowLine(port, rows, row);
        count += line && line->dirty;
    }
    return count;
}

static void MarkLampsPainted(PortRecord* port)
{
    port->paintedInputSignals = port->inputSignals;
    port->paintedOutputSignals = port->outputSignals;
    port->paintedStatus.holdFlags = HoldFlags(port->lineStatus);
    port->paintedStatus.inQueue = port->lineStatus.cbInQue;
    port->paintedStatus.outQueue = port->lineStatus.cbOutQue;
}

static void NoteRowsPainted(PortRecord* port, ULONGLONG now)
{
    port->rowsPaintedAt = now;
    port->rowsPaintedOnce = 1;
}

// Nothing of the window can be seen (covered or minimised): it is marked
// painted, since showing it again makes the system ask for a full repaint.
static void PassOverHiddenWindow(PortRecord* port, int rows, ULONGLONG now)
{
    MarkLampsPainted(port);
    port->paintedLine = port->currentLine;
    for (int row = 1; row <= rows; row++) {
        ScreenLine* line = RowLine(port, rows, row);
        if (line)
            line->dirty = 0;
    }
    NoteRowsPainted(port, now);
}

// The text rows a window of `port`'s size has, 0 when it is too small to be
// painted.
static int TextRowCount(PortRecord* port)
{
    // Without a window GetDC would hand out the whole screen.
    if (!port || !port->window || port->clientHeight < TEXT_ROW_HEIGHT)
        return 0;
    int rows = port->clientHeight / TEXT_ROW_HEIGHT - 1;
    return rows < 1 ? 0 : rows;
}

static bool LampsChanged(PortRecord* port)
{
    return port->inputSignals != port->paintedInputSignals ||
           port->outputSignals != port->paintedOutputSignals ||
           HoldFlags(port->lineStatus) != port->paintedStatus.holdFlags;
}

static void PaintLampRows(HDC surface, PortRecord* port, int forced)
{
    if (forced || port->inputSignals != port->paintedInputSignals ||
        port->outputSignals != port->paintedOutputSignals)
        PaintSignalRow(surface, port);
    if (forced || HoldFlags(port->lineStatus) != port->paintedStatus.holdFlags)
        PaintHoldRow(surface, port);
}

// Paints the lamps that changed, and no text row.
static void RedrawLamps(PortRecord* port)
{
    if (!TextRowCount(port))
        return;
    HDC surface = GetDC(port->window);
    RECT box;
    if (GetClipBox(surface, &box) == NULLREGION) {
        MarkLampsPainted(port);
    } else {
        if (RowFont)
            SelectObject(surface, RowFont);
        PaintLampRows(surface, port, 0);
    }
    ReleaseDC(port->window, surface);
}

// RedrawPort at time `now` of the engine's clock.
static void RedrawPortAt(PortRecord* port, int forced, ULONGLONG now)
{
    int rows = TextRowCount(port);
    if (!rows)
        return;
    // What a window shows before its first paint is not its own.
    if (!port->rowsPaintedOnce)
        forced = 1;
    HDC surface = GetDC(port->window);
    SeenRows* seen = SeenRowsOf(port->window);
    Visible visible;
    visible.kind = GetClipBox(surface, &visible.box);
    if (visible.kind == NULLREGION) {
        PassOverHiddenWindow(port, rows, now);
        RememberSeenRows(seen, port, rows);
        ReleaseDC(port->window, surface);
        return;
    }
    if (RowFont)
        SelectObject(surface, RowFont);
    PaintLampRows(surface, port, forced);
    int textForced = forced;
    bool textPainted = false;
    if (port->paintedLine != port->currentLine) {
        int shift = PreviousLine(port->currentLine, port->paintedLine);
        port->paintedLine = port->currentLine;
        int shown = rows < SCREEN_LINES ? rows : SCREEN_LINES;
        // Moving the pixels pays while most rows keep their line; past that,
        // comparing rows finds as much to skip. The shift is counted round the
        // ring, so many new lines can look like a few: their dirty lines tell.
        if (!forced && 2 * shift < shown && 2 * CountDirtyRows(port, rows) < shown)
            textPainted = PaintMovedTextRows(surface, visible, port, rows, shift);
        if (!textPainted)
            textForced = 1;
    }
    if (!textPainted && (textForced || CountDirtyRows(port, rows) > 0)) {
        // Rows are compared only when the ring moved on: what the system
        // erased must be painted whatever it showed before, and the dirty
        // rows of a ring that stayed are few.
        bool unchanged[TEXT_ROWS_COMPARED + 1];
        bool compared = !forced && textForced && rows <= TEXT_ROWS_COMPARED &&
                        FindUnchangedRows(surface, visible, port, rows, seen, unchanged);
        PaintTextRows(surface, visible, port, rows, textForced, compared ? unchanged : nullptr);
        textPainted = true;
    }
    if (textPainted)
        NoteRowsPainted(port, now);
    RememberSeenRows(seen, port, rows);
    ReleaseDC(port->window, surface);
}

void RedrawPort(PortRecord* port, int forced)
{
    RedrawPortAt(port, forced, Device.GetTickCount64());
}

static bool TextRowsPending(PortRecord* port)
{
    int rows = TextRowCount(port);
    return rows && (port->paintedLine != port->currentLine || CountDirtyRows(port, rows) > 0);
}

// `now` is when the poll began: periods are counted from poll to poll, not
// from how far into its walk over the ports a poll reached the window.
int PaintPolledPort(PortRecord* port, ULONGLONG now)
{
    if (port->rowsPaintedOnce && now - port->rowsPaintedAt < PaintPeriodMs &&
        TextRowsPending(port)) {
        if (LampsChanged(port))
            RedrawLamps(port);
        return 0;
    }
    RedrawPortAt(port, 0, now);
    return 1;
}

void PaintPortNow(PortRecord* port)
{
    RedrawPort(port, 0);
    port->windowDirty = 0;
}

void ClearScreen(PortRecord* port)
{
    if (!port)
        return;
    // The current line goes before it is finished: a capture keeps it as it stands.
    if (port->capture)
        CaptureUnfinishedLine(port);
    for (ScreenLine& line : port->lines)
        line.text[0] = 0;
    port->currentLine = 0;
    port->currentColumn = 0;
    RedrawPort(port, 1);
}
