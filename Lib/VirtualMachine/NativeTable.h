// The table of native groups and functions and of device extensions and
// their operations (Natives.def): the unknown-function check of the native
// dispatch, and the names the assembler, the disassembler and the natives
// reference use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

enum class UnknownStyle : uint8_t {
    POSITION,  // label + the bytecode position
    NUMBER,    // label + the function number
};

struct NativeGroupInfo {
    int number;
    const char* name;
    UnknownStyle style;
    const char* label;
    int elementWords;  // vector groups: words of one element; else 0
};

// One function of a group, or one operation of an extension.
struct NativeFunctionInfo {
    int group;            // group or extension number
    int function;         // 0-255 (the instruction's byte, unsigned)
    const char* groupName;
    const char* name;     // within the group
    const char* operands; // kinds, deepest first (Natives.def)
    const char* results;
    const char* description;
    int operandWords;
    int resultWords;
    std::string qualifiedName() const { return std::string(groupName) + "." + name; }
};

struct ExtensionInfo {
    int number;
    const char* name;
    const char* unknownMessage;  // the fatal message of an unknown operation
};

// Words of one operand kind, or -1 for a kind the table does not define;
// `elem` has the group's element words.
int kindWords(std::string_view kind, int elementWords);
// The kind of an operand token ("s:str" -> "str").
std::string_view tokenKind(std::string_view token);

// Groups 1-36 except 2, in number order; null for every other number.
const std::vector<NativeGroupInfo>& nativeGroups();
const NativeGroupInfo* nativeGroup(int number);

// Every function, by group number then function number.
const std::vector<NativeFunctionInfo>& nativeFunctions();
// The function byte as the instruction holds it: -128..255, negative bytes
// standing for 128..255.
const NativeFunctionInfo* nativeFunction(int group, int function);
bool isNativeFunction(int group, int function);

const std::vector<ExtensionInfo>& extensions();
const ExtensionInfo* extension(int number);
const std::vector<NativeFunctionInfo>& extensionOperations();
const NativeFunctionInfo* extensionOperation(int extension, int operation);

// Raises the group's unknown-function error (code 10).
[[noreturn]] void raiseUnknownNative(const NativeGroupInfo& group, int function, int position);

}  // namespace vm
