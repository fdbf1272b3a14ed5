// Disassembler: an index.mcb file to program text that assembles back to the
// same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "McbFile.h"

namespace mcb {

// Throws FormatError for a file that the loader refuses.
std::string disassemble(const std::vector<uint8_t>& file);

}  // namespace mcb
