// The trace file reader on any bytes: it reads or refuses with a message.
#include "FuzzSupport.h"
#include "IO/CAppsFileReader.h"
#include "Utility/TraceLog.h"

int fuzz::trace(const uint8_t* data, size_t size)
{
    Trace::TraceLog document;
    CAppsFileReader reader(data, TUint32(size));
    CAppsString error;
    Trace::readTraceFile(document, reader, &error, true);
    return 0;
}
