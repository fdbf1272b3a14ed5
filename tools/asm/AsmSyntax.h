// Lexical pieces shared by the assembler and the disassembler: native group,
// function and extension names (from the natives table), reserved words,
// identifiers and quoted byte strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "NativeTable.h"

namespace mcb {

// Symbolic name of native group g (1-36), or null when it has none (group 2
// and every number outside 1-36).
const char* nativeGroupName(int group);
// Group number of a symbolic name, case-insensitive.
std::optional<int> nativeGroupNumber(std::string_view name);
// The function of the group with that name (case-insensitive), or null.
const vm::NativeFunctionInfo* nativeFunctionNamed(int group, std::string_view name);

// The same for the device extensions and their operations.
const char* extensionName(int extension);
std::optional<int> extensionNumber(std::string_view name);
const vm::NativeFunctionInfo* extensionOperationNamed(int extension, std::string_view name);

bool equalsIgnoreCase(std::string_view a, std::string_view b);

// [A-Za-z_][A-Za-z0-9_.]*
bool isIdentifier(std::string_view s);
// Words that cannot name a class: the clauses of .class (a list of skipped
// classes ends at one) and "any" (the catch-all class of a handler).
bool isReservedClassName(std::string_view s);

// A double-quoted literal that the assembler reads back as exactly these
// bytes: printable ASCII and well-formed UTF-8 as is, everything else escaped.
std::string quoteBytes(std::string_view bytes);

// Length of the well-formed UTF-8 sequence at s[i] (0 if there is none).
size_t utf8SequenceLength(std::string_view s, size_t i);

}  // namespace mcb
