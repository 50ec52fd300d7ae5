// How the text rows of a port window look: where each row is, the font, and
// what a full repaint draws. The program paints its rows with these, and
// tarnwickctl draws the rows it expects to see with the same ones.
#pragma once
#include "view/layout.h"

#include <windows.h>

inline int RowTop(int row)
{
    return TEXT_ROW_HEIGHT * row + TEXT_ROW_DROP;
}

// What a row owns on the surface: its white band and the margin left of
// it, which a glyph at the start of the row may reach into.
inline RECT RowBand(int row)
{
    RECT band = {0, RowTop(row), TEXT_RIGHT, RowTop(row) + TEXT_ROW_HEIGHT};
    return band;
}

// The font of the lamp labels and text rows: the screen's default font at
// 96 DPI, whose rows fit the fixed 14-pixel pitch and whose labels fit the
// lamps. Windows scales a program that does not declare itself DPI-aware and
// reports 96 DPI to it; Wine does neither and hands out a default font grown
// with the screen's DPI, so there the 96-DPI size is asked for. Null at 96
// DPI, where a surface's own default font is used.
inline HFONT CreateRowFont()
{
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    LOGFONTA font;
    if (dpi == 96 || dpi <= 0 || !GetObjectA(GetStockObject(SYSTEM_FONT), sizeof font, &font))
        return nullptr;
    // Only the height grows with the DPI; the width stays as asked.
    font.lfHeight = MulDiv(font.lfHeight, 96, dpi);
    return CreateFontIndirectA(&font);
}

// Readies a surface for rows: the row font (null: the surface's own), black
// text on a transparent background, and the white pen and brush of the bands.
inline void BeginTextRows(HDC surface, HFONT font)
{
    if (font)
        SelectObject(surface, font);
    SetBkMode(surface, TRANSPARENT);
    SetTextColor(surface, RGB(0, 0, 0));
    SelectObject(surface, GetStockObject(WHITE_PEN));
    SelectObject(surface, GetStockObject(WHITE_BRUSH));
}

// Whites the bands from the top of `row` down to `bottom` (a y), and clears
// the margin left of them.
inline void FillRowBands(HDC surface, int row, int bottom)
{
    RECT margin = {0, RowTop(row), TEXT_LEFT, bottom};
    FillRect(surface, &margin, GetSysColorBrush(COLOR_WINDOW));
    Rectangle(surface, TEXT_LEFT, RowTop(row), TEXT_RIGHT, bottom);
}

// Writes the first `length` characters of a row's text; with `clip`, only
// what falls inside it.
inline void WriteRowText(HDC surface, int row, const char* text, int length, const RECT* clip)
{
    if (length <= 0)
        return;
    if (clip)
        ExtTextOutA(surface, TEXT_LEFT, RowTop(row), ETO_CLIPPED, clip, text, length, nullptr);
    else
        TextOutA(surface, TEXT_LEFT, RowTop(row), text, length);
}

// Rows `first` to `first + count - 1` (texts[i] is row first + i's, cut to
// lengths[i] characters; lengths null: whole) as a full repaint leaves them:
// every band white down to `bottom`, then every row's text, which reaches
// into the top of the row below; with `clipLast` the last row's stays in its
// own band. The surface is readied with BeginTextRows.
inline void DrawTextRows(HDC surface, int first, int count, const char* const* texts,
                         const int* lengths, int bottom, bool clipLast)
{
    FillRowBands(surface, first, bottom);
    for (int i = count - 1; i >= 0; i--) {
        int row = first + i;
        RECT band = RowBand(row);
        int length = lengths ? lengths[i] : lstrlenA(texts[i]);
        WriteRowText(surface, row, texts[i], length, clipLast && i == count - 1 ? &band : nullptr);
    }
}
