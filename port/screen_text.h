// The ring of screen lines every port window shows, and the one way text gets in.
#pragma once

class PortRecord;

void AppendText(PortRecord* port, const void* text, int count);
