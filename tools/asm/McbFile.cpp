#include "McbFile.h"

#include <algorithm>

#include "ModuleFormat.h"
#include "Opcodes.h"

namespace mcb {

FormatError::FormatError(size_t off, const std::string& message)
    : std::runtime_error("offset " + std::to_string(off) + ": " + message), offset(off)
{
}

static_assert(W_FIELD_COUNT == vm::kHeaderWidthCount);

const char* widthFieldKeyword(WidthField field)
{
    return vm::kHeaderWidthNames[field];
}

bool fitsWidth(int64_t value, int width)
{
    switch (width) {
    case 1: return value >= 0 && value <= 0xFF;
    case 2: return value >= 0 && value <= 0xFFFF;
    case 4: return value >= INT32_MIN && value <= INT32_MAX;
    default: return false;
    }
}

int widthFor(int64_t value)
{
    return fitsWidth(value, 1) ? 1 : fitsWidth(value, 2) ? 2 : 4;
}

namespace {

void widen(uint8_t& w, int64_t value)
{
    int need = widthFor(value);
    if (need > w)
        w = static_cast<uint8_t>(need);
}

void widenSlots(uint8_t& w, const std::vector<int32_t>& offsets)
{
    for (int32_t o : offsets)
        widen(w, o);
}

void widenSlots(uint8_t& w, const std::vector<FlaggedSlot>& slots)
{
    for (const FlaggedSlot& s : slots)
        widen(w, s.offset);
}

// Bounds-checked cursor over the file; every failed read is a FormatError.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& b) : bytes_(b) {}

    size_t pos() const { return pos_; }
    size_t remaining() const { return bytes_.size() - pos_; }

    const uint8_t* take(size_t n, const char* what)
    {
        if (n > remaining())
            throw FormatError(pos_, std::string("file ends inside ") + what);
        const uint8_t* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }
    uint8_t u8(const char* what) { return *take(1, what); }
    int32_t i32(const char* what) { return readLE32(take(4, what)); }

    // A width-coded field: widths 1 and 2 unsigned, 4 signed.
    int32_t coded(int width, const char* what)
    {
        const uint8_t* p = take(static_cast<size_t>(width), what);
        switch (width) {
        case 1: return p[0];
        case 2: return p[0] | (p[1] << 8);
        default: return readLE32(p);
        }
    }
    // Counts are never negative; a count larger than the rest of the file is
    // caught by the first read past the end, never by allocating for it.
    int32_t count(const char* what)
    {
        size_t at = pos_;
        int32_t n = i32(what);
        if (n < 0)
            throw FormatError(at, std::string("negative ") + what + " " + std::to_string(n));
        return n;
    }
    int32_t codedCount(int width, const char* what)
    {
        size_t at = pos_;
        int32_t n = coded(width, what);
        if (n < 0)
            throw FormatError(at, std::string("negative ") + what + " " + std::to_string(n));
        return n;
    }
    uint8_t width(const char* what)
    {
        size_t at = pos_;
        uint8_t w = u8(what);
        if (!isValidWidth(w))
            throw FormatError(at, std::string("bad ") + what + " " + std::to_string(w) + " (must be 1, 2 or 4)");
        return w;
    }
    std::string bytesWithLength(const char* what)
    {
        int32_t n = count(what);
        const uint8_t* p = take(static_cast<size_t>(n), what);
        return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
};

std::vector<int32_t> readOffsets(Reader& r, int width, const char* what)
{
    int32_t n = r.count(what);
    std::vector<int32_t> out;
    for (int32_t i = 0; i < n; ++i)
        out.push_back(r.coded(width, what));
    return out;
}

std::vector<FlaggedSlot> readFlagged(Reader& r, int width, const char* what)
{
    int32_t n = r.count(what);
    std::vector<FlaggedSlot> out;
    for (int32_t i = 0; i < n; ++i) {
        size_t at = r.pos();
        FlaggedSlot s;
        s.flag = r.u8(what);
        if (s.flag != kFlagPlain && s.flag != kFlagRefs)
            throw FormatError(at, std::string("bad flag ") + std::to_string(s.flag) + " in " + what + " (must be 0 or 255)");
        s.offset = r.coded(width, what);
        out.push_back(s);
    }
    return out;
}

class Writer {
public:
    std::vector<uint8_t> out;

    void u8(uint8_t v) { out.push_back(v); }
    void i32(int32_t v)
    {
        uint32_t u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    void coded(int width, int64_t v, const char* what)
    {
        if (!isValidWidth(width))
            throw std::invalid_argument(std::string("bad width for ") + what);
        if (!fitsWidth(v, width))
            throw std::invalid_argument(std::string(what) + " " + std::to_string(v) + " does not fit width " +
                                        std::to_string(width));
        uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v));
        for (int i = 0; i < width; ++i)
            out.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    void count(size_t n, const char* what)
    {
        if (n > INT32_MAX)
            throw std::invalid_argument(std::string("too many ") + what);
        i32(static_cast<int32_t>(n));
    }
    void bytes(const std::string& s, const char* what)
    {
        count(s.size(), what);
        out.insert(out.end(), s.begin(), s.end());
    }
    void offsets(const std::vector<int32_t>& v, int width, const char* what)
    {
        count(v.size(), what);
        for (int32_t o : v)
            coded(width, o, what);
    }
    void flagged(const std::vector<FlaggedSlot>& v, int width, const char* what)
    {
        count(v.size(), what);
        for (const FlaggedSlot& s : v) {
            if (s.flag != kFlagPlain && s.flag != kFlagRefs)
                throw std::invalid_argument(std::string("bad flag in ") + what);
            u8(s.flag);
            coded(width, s.offset, what);
        }
    }
};

}  // namespace

int32_t readLE32(const uint8_t* p)
{
    uint32_t u = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return static_cast<int32_t>(u);
}

int16_t readLE16(const uint8_t* p)
{
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

Widths autoWidths(const Module& m)
{
    Widths w{1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (const StaticMethod& s : m.statics) {
        widen(w[W_CODE_ADDRESS], s.codeAddress);
        widen(w[W_GC_INFO_INDEX], s.gcInfoIndex);
    }
    for (const VirtualMethod& v : m.virtuals) {
        widen(w[W_IMPL_COUNT], static_cast<int64_t>(v.impls.size()));
        for (const VirtualImpl& i : v.impls) {
            widen(w[W_CLASS_INDEX], i.classIndex);
            widen(w[W_CODE_ADDRESS], i.codeAddress);
            widen(w[W_GC_INFO_INDEX], i.gcInfoIndex);
        }
    }
    for (const ClassRecord& c : m.classes) {
        widen(w[W_SUPER_FLAG], c.hasSuper);
        if (c.hasSuper != 0)
            widen(w[W_CLASS_INDEX], c.superIndex);
        widen(w[W_SKIP_COUNT], static_cast<int64_t>(c.skipped.size()));
        for (int32_t s : c.skipped)
            widen(w[W_CLASS_INDEX], s);
    }
    for (const StackMap& s : m.maps) {
        widen(w[W_PARAMETER_SLOTS], s.parameterSlots);
        widen(w[W_EXTRA_SLOTS], s.extraSlots);
        widen(w[W_LOCAL_SLOTS], s.localSlots);
    }
    return w;
}

uint8_t autoWidth(const ClassRecord& c)
{
    uint8_t w = 1;
    widenSlots(w, c.refOffsets);
    widenSlots(w, c.arrayFields);
    return w;
}

uint8_t autoWidth(const StackMap& s)
{
    uint8_t w = 1;
    widenSlots(w, s.checkedReferenceSlots);
    widenSlots(w, s.arrayReferenceSlots);
    widenSlots(w, s.referenceSlots);
    widenSlots(w, s.inlineArraySlots);
    return w;
}

std::vector<uint32_t> instructionStarts(const std::vector<uint8_t>& code)
{
    std::vector<uint32_t> starts;
    size_t pc = 0;
    while (pc < code.size()) {
        size_t len = 1 + static_cast<size_t>(vm::operandLength(code[pc]));
        if (len > code.size() - pc)
            throw FormatError(pc, "instruction cut off by the end of the code");
        starts.push_back(static_cast<uint32_t>(pc));
        pc += len;
    }
    return starts;
}

Module readModule(const std::vector<uint8_t>& file)
{
    Reader r(file);
    Module m;

    size_t at = r.pos();
    uint8_t idLength = r.u8("module id length");
    if (idLength != kModuleIdLength)
        throw FormatError(at, "bad module id length " + std::to_string(idLength) + " (must be 20)");
    const uint8_t* id = r.take(kModuleIdLength, "module id");
    std::copy(id, id + kModuleIdLength, m.id.begin());

    at = r.pos();
    const uint8_t* magic = r.take(2, "magic");
    if (magic[0] != 0xFF || magic[1] != 0xFF)
        throw FormatError(at, "bad magic (must be FF FF)");
    for (int f = 0; f < W_FIELD_COUNT; ++f)
        m.widths[f] = r.width((std::string("header width '") + widthFieldKeyword(WidthField(f)) + "'").c_str());
    const Widths& w = m.widths;

    int32_t n = r.count("static method count");
    for (int32_t i = 0; i < n; ++i) {
        StaticMethod s;
        s.name = r.bytesWithLength("static method name");
        s.codeAddress = r.coded(w[W_CODE_ADDRESS], "static method code address");
        s.gcInfoIndex = r.coded(w[W_GC_INFO_INDEX], "static method stack-map index");
        m.statics.push_back(std::move(s));
    }

    n = r.count("virtual method count");
    for (int32_t i = 0; i < n; ++i) {
        VirtualMethod v;
        v.name = r.bytesWithLength("virtual method name");
        int32_t impls = r.codedCount(w[W_IMPL_COUNT], "implementation count");
        for (int32_t k = 0; k < impls; ++k) {
            VirtualImpl im;
            im.classIndex = r.coded(w[W_CLASS_INDEX], "implementation class index");
            im.codeAddress = r.coded(w[W_CODE_ADDRESS], "implementation code address");
            im.gcInfoIndex = r.coded(w[W_GC_INFO_INDEX], "implementation stack-map index");
            v.impls.push_back(im);
        }
        m.virtuals.push_back(std::move(v));
    }

    m.globalWords = r.i32("globals size");

    n = r.count("class count");
    for (int32_t i = 0; i < n; ++i) {
        ClassRecord c;
        c.width = r.width("class record width");
        c.refOffsets = readOffsets(r, c.width, "class reference fields");
        c.arrayFields = readFlagged(r, c.width, "class array fields");
        c.hasSuper = r.coded(w[W_SUPER_FLAG], "class superclass flag");
        if (c.hasSuper != 0)
            c.superIndex = r.coded(w[W_CLASS_INDEX], "superclass index");
        int32_t skips = r.codedCount(w[W_SKIP_COUNT], "skipped class count");
        for (int32_t k = 0; k < skips; ++k)
            c.skipped.push_back(r.coded(w[W_CLASS_INDEX], "skipped class index"));
        m.classes.push_back(std::move(c));
    }

    n = r.count("stack-map count");
    for (int32_t i = 0; i < n; ++i) {
        StackMap s;
        s.width = r.width("stack-map record width");
        s.parameterSlots = r.coded(w[W_PARAMETER_SLOTS], "stack-map parameter slots");
        s.checkedReferenceSlots = readOffsets(r, s.width, "stack-map checked reference slots");
        s.arrayReferenceSlots = readFlagged(r, s.width, "stack-map array reference slots");
        s.extraSlots = r.coded(w[W_EXTRA_SLOTS], "stack-map extra slots");
        s.localSlots = r.coded(w[W_LOCAL_SLOTS], "stack-map local slots");
        s.referenceSlots = readOffsets(r, s.width, "stack-map reference slots");
        s.inlineArraySlots = readFlagged(r, s.width, "stack-map inline array slots");
        m.maps.push_back(std::move(s));
    }

    n = r.count("string count");
    for (int32_t i = 0; i < n; ++i)
        m.strings.push_back(r.bytesWithLength("string constant"));

    size_t codeStart = r.pos();
    m.code.assign(file.begin() + static_cast<std::ptrdiff_t>(codeStart), file.end());
    std::vector<uint32_t> starts;
    try {
        starts = instructionStarts(m.code);
    } catch (const FormatError& e) {
        throw FormatError(codeStart + e.offset, "code offset " + std::to_string(e.offset) +
                                                    ": instruction cut off by the end of the file");
    }
    // The loader maps every virtual call through the module's import list.
    for (uint32_t pc : starts) {
        if (m.code[pc] != vm::OP_VCALL)
            continue;
        int32_t number = readLE32(&m.code[pc + 1]);
        if (number < 0 || static_cast<size_t>(number) >= m.virtuals.size())
            throw FormatError(codeStart + pc, "code offset " + std::to_string(pc) + ": virtual method number " +
                                                  std::to_string(number) + " outside the module's " +
                                                  std::to_string(m.virtuals.size()) + " virtual methods");
    }
    return m;
}

std::vector<uint8_t> writeModule(const Module& m)
{
    Writer o;
    const Widths& w = m.widths;
    o.u8(kModuleIdLength);
    o.out.insert(o.out.end(), m.id.begin(), m.id.end());
    o.u8(0xFF);
    o.u8(0xFF);
    for (uint8_t width : w) {
        if (!isValidWidth(width))
            throw std::invalid_argument("bad header width " + std::to_string(width));
        o.u8(width);
    }

    o.count(m.statics.size(), "static methods");
    for (const StaticMethod& s : m.statics) {
        o.bytes(s.name, "static method name");
        o.coded(w[W_CODE_ADDRESS], s.codeAddress, "code address");
        o.coded(w[W_GC_INFO_INDEX], s.gcInfoIndex, "stack-map index");
    }

    o.count(m.virtuals.size(), "virtual methods");
    for (const VirtualMethod& v : m.virtuals) {
        o.bytes(v.name, "virtual method name");
        o.coded(w[W_IMPL_COUNT], static_cast<int64_t>(v.impls.size()), "implementation count");
        for (const VirtualImpl& i : v.impls) {
            o.coded(w[W_CLASS_INDEX], i.classIndex, "class index");
            o.coded(w[W_CODE_ADDRESS], i.codeAddress, "code address");
            o.coded(w[W_GC_INFO_INDEX], i.gcInfoIndex, "stack-map index");
        }
    }

    o.i32(m.globalWords);

    o.count(m.classes.size(), "classes");
    for (const ClassRecord& c : m.classes) {
        if (!isValidWidth(c.width))
            throw std::invalid_argument("bad class record width");
        o.u8(c.width);
        o.offsets(c.refOffsets, c.width, "reference field offset");
        o.flagged(c.arrayFields, c.width, "array field offset");
        o.coded(w[W_SUPER_FLAG], c.hasSuper, "superclass flag");
        if (c.hasSuper != 0)
            o.coded(w[W_CLASS_INDEX], c.superIndex, "superclass index");
        o.coded(w[W_SKIP_COUNT], static_cast<int64_t>(c.skipped.size()), "skipped class count");
        for (int32_t s : c.skipped)
            o.coded(w[W_CLASS_INDEX], s, "skipped class index");
    }

    o.count(m.maps.size(), "stack maps");
    for (const StackMap& s : m.maps) {
        if (!isValidWidth(s.width))
            throw std::invalid_argument("bad stack-map record width");
        o.u8(s.width);
        o.coded(w[W_PARAMETER_SLOTS], s.parameterSlots, "parameter slots");
        o.offsets(s.checkedReferenceSlots, s.width, "checked reference slot");
        o.flagged(s.arrayReferenceSlots, s.width, "array reference slot");
        o.coded(w[W_EXTRA_SLOTS], s.extraSlots, "extra slots");
        o.coded(w[W_LOCAL_SLOTS], s.localSlots, "local slots");
        o.offsets(s.referenceSlots, s.width, "reference slot");
        o.flagged(s.inlineArraySlots, s.width, "inline array slot");
    }

    o.count(m.strings.size(), "strings");
    for (const std::string& s : m.strings)
        o.bytes(s, "string constant");

    o.out.insert(o.out.end(), m.code.begin(), m.code.end());
    return std::move(o.out);
}

}  // namespace mcb
