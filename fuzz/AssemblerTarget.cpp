// The assembler on any text: it refuses with a message or makes a file that
// the disassembler reads and prints back into the same file.
#include <cstdlib>
#include <string_view>

#include "Assembler.h"
#include "Disassembler.h"
#include "FuzzSupport.h"
#include "McbFile.h"

int fuzz::assembler(const uint8_t* data, size_t size)
{
    std::string_view source(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> file;
    try {
        file = mcb::assemble(source, "fuzz.mcbs");
    } catch (const mcb::AsmError&) {
        return 0;
    }
    std::string text;
    try {
        text = mcb::disassemble(file);
    } catch (const mcb::FormatError&) {
        return 0;  // the assembler may write what the file rules refuse (a bad vcall number)
    }
    if (mcb::assemble(text, "again.mcbs") != file)
        std::abort();
    return 0;
}
