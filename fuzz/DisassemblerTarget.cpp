// The disassembler on any bytes: it refuses or prints, and what it prints
// assembles back to the same bytes.
#include <cstdlib>

#include "Assembler.h"
#include "Disassembler.h"
#include "FuzzSupport.h"
#include "McbFile.h"

int fuzz::disassembler(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    std::string text;
    try {
        text = mcb::disassemble(file);
    } catch (const mcb::FormatError&) {
        return 0;
    }
    std::vector<uint8_t> again;
    try {
        again = mcb::assemble(text, "fuzz.mcbs");
    } catch (const mcb::AsmError&) {
        std::abort();  // the disassembler printed text the assembler refuses
    }
    if (again != file)
        std::abort();  // the round trip changed the file
    return 0;
}
