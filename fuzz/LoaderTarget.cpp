// The loader alone, on any bytes: it must accept or refuse without a fault,
// and agree with the disassembler's reader, which applies the same file
// rules (the loader may refuse more: its limits are not file rules).
#include <cstdlib>

#include "FuzzSupport.h"
#include "IO/CAppsFileReader.h"
#include "McbFile.h"

int fuzz::loader(const uint8_t* data, size_t size)
{
    vm::VirtualMachine machine;
    machine.space().setMemoryLimit(fuzz::kMemoryLimit);
    CAppsFileReader reader(data, TUint32(size));
    int index = -1;
    bool loaded = false;
    fuzz::guarded([&] { loaded = machine.loadModule(reader, CAppsString("index.mcb"), index); });
    bool read = true;
    try {
        mcb::readModule(std::vector<uint8_t>(data, data + size));
    } catch (const mcb::FormatError&) {
        read = false;
    }
    if (loaded && !read)
        std::abort();  // the loader took a file that breaks the file rules
    return 0;
}
