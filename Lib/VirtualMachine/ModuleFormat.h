// Names shared by every reader and writer of index.mcb: the loader, the
// assembler and the disassembler.
#pragma once

namespace vm {

// The nine header widths in file order: their keywords in the text format
// ("code", "map", ...) and in error messages ("header width 'code'").
inline constexpr int kHeaderWidthCount = 9;
inline constexpr const char* kHeaderWidthNames[kHeaderWidthCount] = {
    "code", "map", "class", "superflag", "skipcount", "params", "extra", "locals", "impls"};

}  // namespace vm
