#include "Disassembler.h"

#include <map>
#include <set>
#include <sstream>

#include "AsmSyntax.h"
#include "Opcodes.h"

namespace mcb {

namespace {

// Hands out unique identifiers.
class NameSet {
public:
    std::string make(const std::string& base)
    {
        std::string name = base;
        for (int n = 2; used_.count(name); ++n)
            name = base + "_" + std::to_string(n);
        used_.insert(name);
        return name;
    }

private:
    std::set<std::string> used_;
};

// A label-friendly form of a method name: "<application>.draw to<canvas>"
// becomes "application_draw_to_canvas".
std::string sanitize(const std::string& raw)
{
    std::string out;
    for (char c : raw) {
        unsigned char u = static_cast<unsigned char>(c);
        bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (keep)
            out += c;
        else if (!out.empty() && out.back() != '_')
            out += '_';
    }
    while (!out.empty() && out.back() == '_')
        out.pop_back();
    if (out.empty())
        return "f";
    if (out[0] >= '0' && out[0] <= '9')
        out = "f_" + out;
    return out;
}

class Disassembler {
public:
    explicit Disassembler(const std::vector<uint8_t>& file) : m_(readModule(file))
    {
        starts_ = instructionStarts(m_.code);
        boundary_.assign(m_.code.size() + 1, false);
        for (uint32_t s : starts_)
            boundary_[s] = true;
        boundary_[m_.code.size()] = true;
    }

    std::string run()
    {
        nameThings();
        printHeader();
        printClasses();
        printMaps();
        printStrings();
        printStatics();
        printVirtuals();
        printCode();
        return out_.str();
    }

private:
    bool isBoundary(int64_t address) const
    {
        return address >= 0 && address <= static_cast<int64_t>(m_.code.size()) && boundary_[static_cast<size_t>(address)];
    }

    void wantLabel(int64_t address, const std::string& preferred)
    {
        if (isBoundary(address) && !labels_.count(static_cast<uint32_t>(address)))
            labels_[static_cast<uint32_t>(address)] = labelNames_.make(preferred);
    }

    std::string className(int32_t index) const
    {
        if (index >= 0 && static_cast<size_t>(index) < m_.classes.size())
            return "C" + std::to_string(index);
        return std::to_string(index);
    }

    std::string mapName(int32_t index) const
    {
        if (index >= 0 && static_cast<size_t>(index) < mapNames_.size())
            return mapNames_[static_cast<size_t>(index)];
        return std::to_string(index);
    }

    std::string stringName(int32_t index) const
    {
        if (index >= 0 && static_cast<size_t>(index) < m_.strings.size())
            return "s" + std::to_string(index);
        return std::to_string(index);
    }

    std::string address(int64_t a) const
    {
        if (isBoundary(a))
            return labels_.at(static_cast<uint32_t>(a));
        return std::to_string(a);
    }

    // Where control goes: A + operand bytes + d for jumps; for a handler
    // (bytes 8) one byte past the recorded A + 8 + d, where a catch resumes.
    int64_t branchTarget(uint32_t pc, int bytes) const
    {
        return int64_t(pc) + (bytes == 8 ? 9 : bytes) + branchOffset(pc, bytes);
    }
    int64_t branchOffset(uint32_t pc, int bytes) const
    {
        return bytes == 2 ? readLE16(&m_.code[pc + 1]) : readLE32(&m_.code[pc + 1 + (bytes == 8 ? 4 : 0)]);
    }

    void nameThings()
    {
        // Stack maps take the name of the first static method using them.
        NameSet mapSet;
        mapNames_.assign(m_.maps.size(), std::string());
        for (const StaticMethod& s : m_.statics)
            if (s.gcInfoIndex >= 0 && static_cast<size_t>(s.gcInfoIndex) < m_.maps.size() &&
                mapNames_[static_cast<size_t>(s.gcInfoIndex)].empty())
                mapNames_[static_cast<size_t>(s.gcInfoIndex)] = mapSet.make(sanitize(s.name));
        for (size_t j = 0; j < m_.maps.size(); ++j)
            if (mapNames_[j].empty())
                mapNames_[j] = mapSet.make("m" + std::to_string(j));

        for (const StaticMethod& s : m_.statics)
            wantLabel(s.codeAddress, sanitize(s.name));
        for (const VirtualMethod& v : m_.virtuals)
            for (const VirtualImpl& i : v.impls)
                wantLabel(i.codeAddress, sanitize(v.name) + "_" + sanitize(className(i.classIndex)));
        for (uint32_t pc : starts_) {
            uint8_t op = m_.code[pc];
            switch (vm::kOpcodeInfo[op].format) {
            case vm::OperandFormat::BR16: wantLabel(branchTarget(pc, 2), "L" + std::to_string(branchTarget(pc, 2))); break;
            case vm::OperandFormat::BR32: wantLabel(branchTarget(pc, 4), "L" + std::to_string(branchTarget(pc, 4))); break;
            case vm::OperandFormat::TRY: wantLabel(branchTarget(pc, 8), "L" + std::to_string(branchTarget(pc, 8))); break;
            case vm::OperandFormat::CALL: {
                int32_t a = readLE32(&m_.code[pc + 1]);
                wantLabel(a, "L" + std::to_string(a));
                break;
            }
            default: break;
            }
        }
    }

    void printHeader()
    {
        const auto& id = m_.id;
        size_t used = id.size();
        while (used > 0 && id[used - 1] == 0)
            --used;
        bool printable = true;
        for (size_t i = 0; i < used; ++i)
            printable = printable && id[i] >= 0x20 && id[i] < 0x7F;
        if (printable) {
            out_ << ".module " << quoteBytes(std::string(id.begin(), id.begin() + static_cast<std::ptrdiff_t>(used)))
                 << "\n";
        } else {
            static const char kHex[] = "0123456789abcdef";
            out_ << ".module hex ";
            for (uint8_t b : id)
                out_ << kHex[b >> 4] << kHex[b & 15];
            out_ << "\n";
        }
        Widths automatic = autoWidths(m_);
        std::string widths;
        for (int f = 0; f < W_FIELD_COUNT; ++f)
            if (m_.widths[f] != automatic[f])
                widths += std::string(" ") + widthFieldKeyword(WidthField(f)) + " " + std::to_string(m_.widths[f]);
        if (!widths.empty())
            out_ << ".widths" << widths << "\n";
        out_ << ".globals " << m_.globalWords << "\n";
    }

    static std::string offsets(const std::vector<int32_t>& v)
    {
        std::string s;
        for (int32_t o : v)
            s += " " + std::to_string(o);
        return s;
    }

    static std::string flagged(const std::vector<FlaggedSlot>& v)
    {
        std::string s;
        for (const FlaggedSlot& f : v)
            s += " " + std::to_string(f.offset) + (f.flag == kFlagRefs ? " ref" : " plain");
        return s;
    }

    void printClasses()
    {
        if (!m_.classes.empty())
            out_ << "\n";
        for (size_t i = 0; i < m_.classes.size(); ++i) {
            const ClassRecord& c = m_.classes[i];
            out_ << ".class " << className(static_cast<int32_t>(i));
            if (c.hasSuper != 0) {
                out_ << " super " << className(c.superIndex);
                if (c.hasSuper != 1)
                    out_ << " flag " << c.hasSuper;
            }
            out_ << "\n";
            if (!c.refOffsets.empty())
                out_ << "    refs" << offsets(c.refOffsets) << "\n";
            if (!c.arrayFields.empty())
                out_ << "    arrays" << flagged(c.arrayFields) << "\n";
            if (!c.skipped.empty()) {
                out_ << "    skip";
                for (int32_t s : c.skipped)
                    out_ << " " << className(s);
                out_ << "\n";
            }
            if (c.width != autoWidth(c))
                out_ << "    width " << int(c.width) << "\n";
        }
    }

    void printMaps()
    {
        if (!m_.maps.empty())
            out_ << "\n";
        for (size_t j = 0; j < m_.maps.size(); ++j) {
            const StackMap& s = m_.maps[j];
            out_ << ".map " << mapNames_[j] << " params " << s.parameterSlots << " extra " << s.extraSlots << " locals "
                 << s.localSlots << "\n";
            if (!s.checkedReferenceSlots.empty())
                out_ << "    checked" << offsets(s.checkedReferenceSlots) << "\n";
            if (!s.arrayReferenceSlots.empty())
                out_ << "    arrays" << flagged(s.arrayReferenceSlots) << "\n";
            if (!s.referenceSlots.empty())
                out_ << "    refs" << offsets(s.referenceSlots) << "\n";
            if (!s.inlineArraySlots.empty())
                out_ << "    inline" << flagged(s.inlineArraySlots) << "\n";
            if (s.width != autoWidth(s))
                out_ << "    width " << int(s.width) << "\n";
        }
    }

    void printStrings()
    {
        if (!m_.strings.empty())
            out_ << "\n";
        for (size_t j = 0; j < m_.strings.size(); ++j)
            out_ << ".string " << stringName(static_cast<int32_t>(j)) << " " << quoteBytes(m_.strings[j]) << "\n";
    }

    void printStatics()
    {
        if (!m_.statics.empty())
            out_ << "\n";
        for (const StaticMethod& s : m_.statics)
            out_ << ".static " << quoteBytes(s.name) << " " << address(s.codeAddress) << " map " << mapName(s.gcInfoIndex)
                 << "\n";
    }

    void printVirtuals()
    {
        if (!m_.virtuals.empty())
            out_ << "\n";
        for (size_t v = 0; v < m_.virtuals.size(); ++v) {
            out_ << ".virtual " << quoteBytes(m_.virtuals[v].name) << "    ; " << v << "\n";
            for (const VirtualImpl& i : m_.virtuals[v].impls)
                out_ << "    impl " << className(i.classIndex) << " " << address(i.codeAddress) << " map "
                     << mapName(i.gcInfoIndex) << "\n";
        }
    }

    // The operand of a call when it names a static method the way the
    // assembler reads `call "name"`: the first static method of that name.
    const StaticMethod* staticFor(int32_t address, int32_t map) const
    {
        std::set<std::string> seen;
        for (const StaticMethod& s : m_.statics) {
            if (!seen.insert(s.name).second)
                continue;
            if (s.codeAddress == address && s.gcInfoIndex == map)
                return &s;
        }
        return nullptr;
    }

    std::string branch(uint32_t pc, int bytes, std::string& note) const
    {
        int64_t target = branchTarget(pc, bytes);
        if (isBoundary(target))
            return labels_.at(static_cast<uint32_t>(target));
        note = "target " + std::to_string(target) + (target >= 0 && target < static_cast<int64_t>(m_.code.size())
                                                           ? " (inside an instruction)"
                                                           : " (outside the code)");
        return std::to_string(branchOffset(pc, bytes));
    }

    std::string instruction(uint32_t pc, std::string& note) const
    {
        uint8_t op = m_.code[pc];
        const vm::OpcodeInfo& info = vm::kOpcodeInfo[op];
        if (!info.mnemonic) {
            note = "not an instruction";
            return ".byte " + std::to_string(op);
        }
        const uint8_t* p = &m_.code[pc + 1];
        auto s8 = [](const uint8_t* q) { return std::to_string(static_cast<int8_t>(*q)); };
        auto u8 = [](const uint8_t* q) { return std::to_string(*q); };
        auto s32 = [](const uint8_t* q) { return std::to_string(readLE32(q)); };
        std::string s = info.mnemonic;
        switch (info.format) {
        case vm::OperandFormat::NONE: break;
        case vm::OperandFormat::S8: s += " " + s8(p); break;
        case vm::OperandFormat::S32: s += " " + s32(p); break;
        case vm::OperandFormat::BR16: s += " " + branch(pc, 2, note); break;
        case vm::OperandFormat::BR32: s += " " + branch(pc, 4, note); break;
        case vm::OperandFormat::CALL: {
            int32_t a = readLE32(p), map = readLE32(p + 4);
            if (const StaticMethod* m = staticFor(a, map))
                s += " " + quoteBytes(m->name);
            else
                s += " " + address(a) + " map " + mapName(map);
            break;
        }
        case vm::OperandFormat::VCALL: {
            int32_t number = readLE32(p);   // in range: checked by readModule
            const std::string& name = m_.virtuals[static_cast<size_t>(number)].name;
            size_t first = 0;
            while (m_.virtuals[first].name != name)
                ++first;
            if (first == static_cast<size_t>(number)) {
                s += " " + quoteBytes(name);
            } else {
                s += " " + std::to_string(number);
                note = quoteBytes(name);
            }
            break;
        }
        case vm::OperandFormat::RET: s += " " + s32(p) + ", " + s32(p + 4); break;
        case vm::OperandFormat::NEW: s += " " + u8(p) + ", " + s32(p + 1); break;
        case vm::OperandFormat::NEWW: s += " " + u8(p) + ", " + s32(p + 1) + ", " + s8(p + 5); break;
        case vm::OperandFormat::STR: s += " " + stringName(readLE32(p)); break;
        case vm::OperandFormat::CLASS: s += " " + className(readLE32(p)); break;
        case vm::OperandFormat::TRY: {
            int32_t cls = readLE32(p);
            s += " " + (cls == -1 ? std::string("any") : className(cls)) + ", " + branch(pc, 8, note);
            break;
        }
        case vm::OperandFormat::NATIVE: {
            int group = static_cast<int8_t>(p[0]);
            if (const vm::NativeFunctionInfo* f = vm::nativeFunction(group, static_cast<int8_t>(p[1]))) {
                s += " " + f->qualifiedName();
                note = std::to_string(group) + " " + std::to_string(f->function);
            } else {
                const char* name = nativeGroupName(group);
                s += " " + (name ? std::string(name) : s8(p)) + " " + s8(p + 1);
            }
            break;
        }
        case vm::OperandFormat::EXT:
            if (const vm::NativeFunctionInfo* f = vm::extensionOperation(p[0], p[1])) {
                s += " " + f->qualifiedName();
                note = u8(p) + " " + u8(p + 1);
            } else {
                s += " " + u8(p) + ", " + u8(p + 1);
            }
            break;
        case vm::OperandFormat::IMM64: s += " " + s32(p) + ", " + s32(p + 4); break;
        case vm::OperandFormat::S8S8: s += " " + s8(p) + ", " + s8(p + 1); break;
        }
        return s;
    }

    void printCode()
    {
        out_ << "\n.code\n";
        for (uint32_t pc : starts_) {
            auto label = labels_.find(pc);
            if (label != labels_.end())
                out_ << label->second << ":\n";
            std::string note;
            std::string text = "    " + instruction(pc, note);
            if (text.size() < 40)
                text.resize(40, ' ');
            else
                text += ' ';
            out_ << text << "; " << pc;
            if (!note.empty())
                out_ << ", " << note;
            out_ << "\n";
        }
        auto end = labels_.find(static_cast<uint32_t>(m_.code.size()));
        if (end != labels_.end())
            out_ << end->second << ":\n";
    }

    Module m_;
    std::vector<uint32_t> starts_;
    std::vector<bool> boundary_;
    std::map<uint32_t, std::string> labels_;
    NameSet labelNames_;
    std::vector<std::string> mapNames_;
    std::ostringstream out_;
};

}  // namespace

std::string disassemble(const std::vector<uint8_t>& file)
{
    return Disassembler(file).run();
}

}  // namespace mcb
