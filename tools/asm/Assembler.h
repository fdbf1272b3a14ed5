// Assembler: program text (.mcbs) to an index.mcb file. The text format is
// described in docs/assembly.md.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mcb {

// A mistake in the program text; what() is "file:line: error: message".
struct AsmError : std::runtime_error {
    AsmError(std::string file, int line, std::string message);
    std::string file;
    int line;              // 1-based; 0 when the mistake has no single line
    std::string message;   // without file and line
};

std::vector<uint8_t> assemble(std::string_view source, std::string_view fileName);

}  // namespace mcb
