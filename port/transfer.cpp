#include "port/transfer.h"

#include "port/port_record.h"

void ReleaseOutstandingIo(PortRecord*)
{
}
