#include "view/screen.h"

#include "app/state.h"
#include "port/port_record.h"

#include <stdio.h>
#include <string.h>

static void AdvanceLine(PortRecord* port)
{
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
            char marker[8];
            snprintf(marker, sizeof marker, "<%xH>", byte);
            StoreMarker(port, marker);
        } else {
            StoreByte(port, byte);
        }
    }
    port->windowDirty = 1;
}
