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

// One error or warning of a file.
struct AsmDiagnostic {
    std::string file;
    int line = 0;          // 0 when it has no single line
    bool warning = false;
    std::string message;
    // "file:line: error: message" (or "warning:").
    std::string text() const;
};

struct AsmResult {
    std::vector<uint8_t> bytes;               // empty when there are errors
    std::vector<AsmDiagnostic> diagnostics;   // by line; at most kMaxErrors errors
    bool ok() const;                          // no errors (warnings allowed)
    std::string report() const;               // every diagnostic's text, one a line
};

// Errors reported in one run; one more line says that the rest were dropped.
inline constexpr int kMaxErrors = 20;

// Every mistake of the file (up to kMaxErrors), with the nearest known name
// suggested for a misspelt one, and warnings about what the runtime would
// refuse or never call: no "main" or "::global::init", an entry method whose
// name or levels do not fit what the runtime looks up.
AsmResult assembleFile(std::string_view source, std::string_view fileName);

// The bytes; throws the first error as AsmError. Warnings are dropped.
std::vector<uint8_t> assemble(std::string_view source, std::string_view fileName);

}  // namespace mcb
