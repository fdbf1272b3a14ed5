// The index.mcb file as a plain record, with a reader that applies the
// loader's acceptance rules and a writer that reproduces a read file byte for
// byte. Every width-coded field keeps the width it was read with, so that
// writeModule(readModule(f)) == f.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mcb {

// A file that the loader refuses: bad id length, magic, width or flag, a
// negative count, a truncated section or instruction, a virtual call number
// outside the module's virtual methods.
struct FormatError : std::runtime_error {
    FormatError(size_t offset, const std::string& message);
    size_t offset;   // file offset where reading failed
};

constexpr int kModuleIdLength = 20;
constexpr uint8_t kFlagPlain = 0;
constexpr uint8_t kFlagRefs = 255;

// An array field or slot: flag 0 plain elements, 255 reference elements.
struct FlaggedSlot {
    uint8_t flag = kFlagPlain;
    int32_t offset = 0;
    bool operator==(const FlaggedSlot&) const = default;
};

struct ClassRecord {
    uint8_t width = 1;   // width of every offset in this record
    std::vector<int32_t> refOffsets;
    std::vector<FlaggedSlot> arrayFields;
    int32_t hasSuper = 0;   // non-zero: superIndex is present
    int32_t superIndex = 0;
    std::vector<int32_t> skipped;
    bool operator==(const ClassRecord&) const = default;
};

struct StackMap {
    uint8_t width = 1;   // width of every slot offset in this record
    int32_t parameterSlots = 0;
    std::vector<int32_t> checkedReferenceSlots;
    std::vector<FlaggedSlot> arrayReferenceSlots;
    int32_t extraSlots = 0;
    int32_t localSlots = 0;
    std::vector<int32_t> referenceSlots;
    std::vector<FlaggedSlot> inlineArraySlots;
    bool operator==(const StackMap&) const = default;
};

struct StaticMethod {
    std::string name;   // raw bytes
    int32_t codeAddress = 0;
    int32_t gcInfoIndex = 0;
    bool operator==(const StaticMethod&) const = default;
};

struct VirtualImpl {
    int32_t classIndex = 0;   // module class index
    int32_t codeAddress = 0;
    int32_t gcInfoIndex = 0;
    bool operator==(const VirtualImpl&) const = default;
};

struct VirtualMethod {
    std::string name;   // raw bytes
    std::vector<VirtualImpl> impls;
    bool operator==(const VirtualMethod&) const = default;
};

// The nine header widths, in file order.
enum WidthField {
    W_CODE_ADDRESS,
    W_GC_INFO_INDEX,
    W_CLASS_INDEX,
    W_SUPER_FLAG,
    W_SKIP_COUNT,
    W_PARAMETER_SLOTS,
    W_EXTRA_SLOTS,
    W_LOCAL_SLOTS,
    W_IMPL_COUNT,
    W_FIELD_COUNT
};
using Widths = std::array<uint8_t, W_FIELD_COUNT>;

struct Module {
    std::array<uint8_t, kModuleIdLength> id{};
    Widths widths{1, 1, 1, 1, 1, 1, 1, 1, 1};
    std::vector<StaticMethod> statics;
    std::vector<VirtualMethod> virtuals;   // position = local virtual number
    int32_t globalWords = 0;
    std::vector<ClassRecord> classes;      // position = module class index
    std::vector<StackMap> maps;            // position = stack-map index
    std::vector<std::string> strings;      // raw bytes (UTF-8 when well formed)
    std::vector<uint8_t> code;
    bool operator==(const Module&) const = default;
};

// Keyword of a header width in the text format ("code", "map", ...).
const char* widthFieldKeyword(WidthField field);

inline bool isValidWidth(int w) { return w == 1 || w == 2 || w == 4; }
// Widths 1 and 2 hold unsigned values, width 4 a signed 32-bit value.
bool fitsWidth(int64_t value, int width);
// Smallest of 1, 2, 4 that holds value.
int widthFor(int64_t value);

// Smallest header widths that hold every value of the module.
Widths autoWidths(const Module& m);
// Smallest per-record width that holds every offset of the record.
uint8_t autoWidth(const ClassRecord& c);
uint8_t autoWidth(const StackMap& s);

// Reads a whole file by the loader's rules; throws FormatError.
Module readModule(const std::vector<uint8_t>& file);

// Serialises m with its recorded widths; throws std::invalid_argument when a
// width is not 1, 2 or 4, a value does not fit its width or a flag is not 0/255.
std::vector<uint8_t> writeModule(const Module& m);

// Start offsets of the instructions of code, in order, as the loader splits
// it: opcodes outside the instruction set take no operand bytes. Throws
// FormatError (offset relative to the code) when the last instruction is cut.
std::vector<uint32_t> instructionStarts(const std::vector<uint8_t>& code);

// Little-endian operand access (no bounds check beyond the vector's).
int32_t readLE32(const uint8_t* p);
int16_t readLE16(const uint8_t* p);

}  // namespace mcb
