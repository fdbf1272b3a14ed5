#include "NativeTable.h"

#include <algorithm>
#include <array>

#include "VMError.h"

namespace vm {

namespace {

enum GroupNumber : int {
#define GROUP(number, Name, style, label, elementWords) kGroup##Name = number,
#include "Natives.def"
};

enum ExtensionNumber : int {
#define EXTENSION(number, Name, message) kExtension##Name = number,
#include "Natives.def"
};

enum VectorScope { ALL, PRIMITIVE, OBJECT };

constexpr int kVectorGroups[] = {kGroupVector8, kGroupVector32, kGroupVector64, kGroupVector96, kGroupVector128,
                                 kGroupObjectVector};

constexpr bool inScope(VectorScope scope, int group)
{
    return scope == ALL || (scope == OBJECT) == (group == kGroupObjectVector);
}

// One bit per group and function byte: the dispatch's check.
struct KnownFunctions {
    std::array<std::array<uint64_t, 4>, 37> bits{};
    constexpr void set(int group, int function) { bits[group][function >> 6] |= uint64_t(1) << (function & 63); }
    constexpr KnownFunctions()
    {
#define FN(Group, function, name, operands, results, description) set(kGroup##Group, function);
#define VECTOR(scope, function, name, operands, results, description) \
    for (int g : kVectorGroups)                                        \
        if (inScope(scope, g))                                         \
            set(g, function);
#include "Natives.def"
    }
};

constexpr KnownFunctions kKnown;

// -128..255 to 0..255; -1 for anything else.
int functionByte(int function)
{
    return function >= -128 && function <= 255 ? function & 0xFF : -1;
}

int wordsOf(const char* list, int elementWords)
{
    int words = 0;
    std::string_view rest(list);
    while (!rest.empty()) {
        size_t end = rest.find(' ');
        std::string_view token = rest.substr(0, end);
        int w = kindWords(tokenKind(token), elementWords);
        KELVAR_ASSERT(w >= 0);
        words += w;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return words;
}

NativeFunctionInfo makeInfo(int group, int function, const char* groupName, const char* name, const char* operands,
                            const char* results, const char* description, int elementWords)
{
    return NativeFunctionInfo{group,    function,    groupName,
                              name,     operands,    results,
                              description, wordsOf(operands, elementWords), wordsOf(results, elementWords)};
}

struct Tables {
    std::vector<NativeGroupInfo> groups;
    std::vector<NativeFunctionInfo> functions;
    std::vector<ExtensionInfo> extensions;
    std::vector<NativeFunctionInfo> operations;

    Tables()
    {
#define GROUP(number, Name, style, label, elementWords) \
    groups.push_back(NativeGroupInfo{number, #Name, UnknownStyle::style, label, elementWords});
#define EXTENSION(number, Name, message) extensions.push_back(ExtensionInfo{number, #Name, message});
#include "Natives.def"
        auto group = [&](int number) -> const NativeGroupInfo& {
            return *std::find_if(groups.begin(), groups.end(), [&](const NativeGroupInfo& g) { return g.number == number; });
        };
#define FN(Group, function, name, operands, results, description) \
    functions.push_back(makeInfo(kGroup##Group, function, #Group, name, operands, results, description, 0));
#define VECTOR(scope, function, fname, operands, results, description)                                        \
    for (int g : kVectorGroups)                                                                                \
        if (inScope(scope, g))                                                                                 \
            functions.push_back(makeInfo(g, function, group(g).name, fname, operands, results, description, \
                                         group(g).elementWords));
#define XOP(Extension, operation, name, operands, results, description) \
    operations.push_back(makeInfo(kExtension##Extension, operation, #Extension, name, operands, results, description, 0));
#include "Natives.def"
        auto order = [](const NativeFunctionInfo& a, const NativeFunctionInfo& b) {
            return a.group != b.group ? a.group < b.group : a.function < b.function;
        };
        std::stable_sort(groups.begin(), groups.end(),
                         [](const NativeGroupInfo& a, const NativeGroupInfo& b) { return a.number < b.number; });
        std::stable_sort(functions.begin(), functions.end(), order);
        std::stable_sort(extensions.begin(), extensions.end(),
                         [](const ExtensionInfo& a, const ExtensionInfo& b) { return a.number < b.number; });
        std::stable_sort(operations.begin(), operations.end(), order);
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

const NativeFunctionInfo* findIn(const std::vector<NativeFunctionInfo>& list, int group, int function)
{
    auto it = std::lower_bound(list.begin(), list.end(), std::pair(group, function),
                               [](const NativeFunctionInfo& f, std::pair<int, int> key) {
                                   return f.group != key.first ? f.group < key.first : f.function < key.second;
                               });
    return it != list.end() && it->group == group && it->function == function ? &*it : nullptr;
}

}  // namespace

int kindWords(std::string_view kind, int elementWords)
{
    static constexpr std::string_view kOne[] = {"int",  "byte",  "char",  "bool",   "bit",     "colour",
                                                "float", "word", "addr",  "cell",   "str",     "long",
                                                "vec",  "bytes", "strings", "obj",  "date",    "font",
                                                "bitmap", "graphics", "keyevent", "reader", "writer", "hash",
                                                "mixer", "player", "location", "requestor"};
    static constexpr std::string_view kTwo[] = {"fixed", "range", "size", "pos"};
    for (std::string_view k : kOne)
        if (kind == k)
            return 1;
    for (std::string_view k : kTwo)
        if (kind == k)
            return 2;
    if (kind == "rect")
        return 4;
    if (kind == "elem" && elementWords > 0)
        return elementWords;
    return -1;
}

std::string_view tokenKind(std::string_view token)
{
    size_t colon = token.find(':');
    return colon == std::string_view::npos ? token : token.substr(colon + 1);
}

const std::vector<NativeGroupInfo>& nativeGroups()
{
    return tables().groups;
}

const NativeGroupInfo* nativeGroup(int number)
{
    for (const NativeGroupInfo& g : tables().groups)
        if (g.number == number)
            return &g;
    return nullptr;
}

const std::vector<NativeFunctionInfo>& nativeFunctions()
{
    return tables().functions;
}

const NativeFunctionInfo* nativeFunction(int group, int function)
{
    int byte = functionByte(function);
    return byte < 0 ? nullptr : findIn(tables().functions, group, byte);
}

bool isNativeFunction(int group, int function)
{
    int byte = functionByte(function);
    return group >= 0 && group <= 36 && byte >= 0 && ((kKnown.bits[group][byte >> 6] >> (byte & 63)) & 1) != 0;
}

const std::vector<ExtensionInfo>& extensions()
{
    return tables().extensions;
}

const ExtensionInfo* extension(int number)
{
    for (const ExtensionInfo& e : tables().extensions)
        if (e.number == number)
            return &e;
    return nullptr;
}

const std::vector<NativeFunctionInfo>& extensionOperations()
{
    return tables().operations;
}

const NativeFunctionInfo* extensionOperation(int extension, int operation)
{
    return findIn(tables().operations, extension, operation);
}

void raiseUnknownNative(const NativeGroupInfo& group, int function, int position)
{
    raiseVmError(KErrVm, std::string(group.label) +
                             std::to_string(group.style == UnknownStyle::NUMBER ? function : position));
}

}  // namespace vm
