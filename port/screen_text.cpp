#include "port/screen_text.h"

#include "common/state.h"
#include "port/capture.h"
#include "port/port_record.h"

#include <string.h>

static void AdvanceLine(PortRecord* port)
{
    if (port->capture)
        CaptureLine(port);
    port->currentLine++;
    if (port->currentLine >= SCREEN_LINES)
        port->currentLine = 0;
    port->currentColumn = 0;
    ScreenLine& line = port->lines[port->currentLine];
    line.text[0] = 0;
    line.dirty = 1;
}

static void StoreByte(PortRecord* port, unsigned char byte)
{
    ScreenLine& line = port->lines[port->currentLine];
    line.text[port->currentColumn] = (char)byte;
    line.text[port->currentColumn + 1] = 0;
    line.dirty = 1;
    port->currentColumn++;
    if (port->currentColumn >= SCREEN_COLUMNS)
        AdvanceLine(port);
}

static void StoreMarker(PortRecord* port, const char* marker)
{
    for (; *marker; marker++)
        StoreByte(port, (unsigned char)*marker);
}

// "<%xH>" without the formatter: markers are most of what random data shows.
static void StoreByteMarker(PortRecord* port, unsigned char byte)
{
    static const char Digits[] = "0123456789abcdef";
    StoreByte(port, '<');
    if (byte >= 0x10)
        StoreByte(port, (unsigned char)Digits[byte >> 4]);
    StoreByte(port, (unsigned char)Digits[byte & 0x0F]);
    StoreByte(port, 'H');
    StoreByte(port, '>');
}

void AppendText(PortRecord* port, const void* text, int count)
{
    if (!port || !text)
        return;
    const unsigned char* bytes = (const unsigned char*)text;
    if (count == 0)
        count = (int)strlen((const char*)text);
    for (int i = 0; i < count; i++) {
        unsigned char byte = bytes[i];
        if (byte == '\n') {
            AdvanceLine(port);
            if (ShowCrLf)
                StoreMarker(port, "<LF>");
        } else if (byte == '\r') {
            if (ShowCrLf)
                StoreMarker(port, "<CR>");
            port->currentColumn = 0;
            port->lines[port->currentLine].dirty = 1;
        } else if (byte < 0x20 || byte > 0x80) {
            StoreByteMarker(port, byte);
        } else {
            StoreByte(port, byte);
        }
    }
    port->windowDirty = 1;
}
