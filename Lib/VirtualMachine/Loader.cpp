// The bytecode loader: reads one module from a stream, checks it and
// relocates it into the VM's tables. Every read is checked against the
// stream; a malformed file fails the load and leaves the tables usable.
//
// Every step is linear in the file's size: counts are checked against the
// bytes left before anything is reserved, and virtual method names are
// merged through a hash map. What the module will hold (globals, code,
// tables) is charged against the memory the VM may still take, so a file
// whose fixed parts exceed the memory limit fails before they are made.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "IO/CAppsFileReader.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

class ModuleReader {
public:
    ModuleReader(CAppsFileReader& reader, uint64_t budget) : reader_(reader), budget_(budget) {}

    [[noreturn]] static void fail() { raiseVmError(KErrVm); }

    // Accounts for bytes the module will hold; fails beyond the budget.
    void charge(uint64_t bytes)
    {
        if (bytes > budget_)
            raiseVmError(KErrVm, "Out of memory");
        budget_ -= bytes;
    }

    uint8_t byte()
    {
        TUint8 b;
        if (!reader_.readByte(b))
            fail();
        return b;
    }
    void bytes(uint8_t* out, int64_t n)
    {
        if (n < 0 || n > remaining())
            fail();
        if (n > 0 && !reader_.read(out, TUint32(n)))
            fail();
    }
    int32_t int32()
    {
        uint8_t b[4];
        bytes(b, 4);
        return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    }
    // A count that announces n records of at least `minBytes` bytes each.
    int32_t count(int minBytes)
    {
        int32_t n = int32();
        if (n < 0 || int64_t(n) * minBytes > remaining())
            fail();
        return n;
    }
    // Width-coded: 1 and 2 bytes unsigned, 4 bytes signed.
    int32_t coded(int width)
    {
        uint8_t b[4];
        bytes(b, width);
        switch (width) {
        case 1:
            return b[0];
        case 2:
            return int32_t(b[0] | b[1] << 8);
        default:
            return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        }
    }
    static bool validWidth(int w) { return w == 1 || w == 2 || w == 4; }
    int width()
    {
        int w = byte();
        if (!validWidth(w))
            fail();
        return w;
    }
    // A method name: its bytes (the key of name merging) and the string.
    CAppsString name(std::string& raw)
    {
        int32_t n = count(1);
        charge(uint64_t(n) * 3 + 64);
        raw.resize(static_cast<size_t>(n));
        bytes(reinterpret_cast<uint8_t*>(raw.data()), n);
        CAppsString s;
        s.setCapacity(n);
        for (char c : raw)
            s.append(uint8_t(c));
        return s;
    }
    OString utf8()
    {
        int32_t n = count(1);
        charge(uint64_t(n) * 2 + 64);
        std::vector<uint8_t> raw(static_cast<size_t>(n));
        bytes(raw.data(), n);
        return OString::fromUtf8(reinterpret_cast<const char*>(raw.data()), n);
    }
    int64_t remaining()
    {
        int64_t r = int64_t(reader_.streamSize()) - reader_.position();
        return r < 0 ? 0 : r;
    }

private:
    CAppsFileReader& reader_;
    uint64_t budget_;
};

struct Widths {
    int codeAddress, gcInfoIndex, classIndex, superFlag, skipCount, parameterSlots, extraSlots, localSlots,
        implCount;
};

void readSlots(ModuleReader& in, int w, Vec<int>& slots)
{
    int32_t n = in.count(w);
    in.charge(uint64_t(n) * sizeof(int));
    for (int32_t i = 0; i < n; ++i)
        slots.append(in.coded(w));
}

void readFlaggedSlots(ModuleReader& in, int w, Vec<int>& slots, Vec<char>& flags)
{
    int32_t n = in.count(1 + w);
    in.charge(uint64_t(n) * (sizeof(int) + 1));
    for (int32_t i = 0; i < n; ++i) {
        uint8_t flag = in.byte();
        if (flag != 0 && flag != 255)
            ModuleReader::fail();
        flags.append(char(flag));
        slots.append(in.coded(w));
    }
}

void putInt32(uint8_t* p, int32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

int32_t getInt32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// Relocation bases are added with 32-bit wrap-around, as words are.
int32_t relocate(int32_t value, int32_t base)
{
    return int32_t(uint32_t(value) + uint32_t(base));
}

}  // namespace

bool VirtualMachine::loadModule(CAppsFileReader& reader, const CAppsString& name, int& moduleIndex)
{
    ModuleReader in(reader, space_.available());
    try {
        // Identity.
        if (in.byte() != 20)
            return false;
        Vec<unsigned char> moduleId;
        uint8_t id[20];
        in.bytes(id, 20);
        for (uint8_t b : id)
            moduleId.append(b);
        for (int i = 0; i < modules.count(); ++i) {
            if (modules[i].name == name && modules[i].moduleId.count() == 20 &&
                std::equal(id, id + 20, modules[i].moduleId.data())) {
                moduleIndex = i;
                return true;
            }
        }

        // Relocation bases.
        const int classBase = relocate(highestClassIndex, 1);
        const int gcBase = gcInfos.count();
        const int codeBase = codeEnd_;
        const int stringBase = stringPool.count();
        BytecodeStruct module;
        module.name = name;
        module.moduleId = moduleId;
        module.codeStart = codeBase;
        modules.append(module);
        const int index = modules.count() - 1;

        if (in.byte() != 0xFF || in.byte() != 0xFF)
            return false;
        Widths w;
        for (int* field : {&w.codeAddress, &w.gcInfoIndex, &w.classIndex, &w.superFlag, &w.skipCount,
                           &w.parameterSlots, &w.extraSlots, &w.localSlots, &w.implCount}) {
            *field = in.byte();
            if (!ModuleReader::validWidth(*field))
                return false;
        }

        // The first method of each name, for merging virtual methods. Names
        // come from files, one byte per character.
        std::unordered_map<std::string, int> firstOfName;
        firstOfName.reserve(size_t(methods.count()));
        for (int m = 0; m < methods.count(); ++m)
            firstOfName.emplace(methods[m].name.toLatin1(), m);
        std::string nameBytes;

        // Static methods.
        int32_t staticCount = in.count(4 + w.codeAddress + w.gcInfoIndex);
        for (int32_t i = 0; i < staticCount; ++i) {
            in.charge(sizeof(ExportedMethod) + sizeof(ExportedMethod::MethodEntry));
            ExportedMethod method;
            method.moduleIndex = index;
            method.isVirtual = 0;
            method.name = in.name(nameBytes);
            int address = in.coded(w.codeAddress);
            int gcInfo = in.coded(w.gcInfoIndex);
            method.entries.append({-1, relocate(address, codeBase), relocate(gcInfo, gcBase)});
            methods.append(std::move(method));
            firstOfName.emplace(nameBytes, methods.count() - 1);
        }

        // Virtual methods and the module's import list.
        Vec<int> imports;
        int32_t virtualCount = in.count(4 + w.implCount);
        firstOfName.reserve(firstOfName.size() + size_t(virtualCount));
        for (int32_t i = 0; i < virtualCount; ++i) {
            in.charge(sizeof(int));
            CAppsString methodName = in.name(nameBytes);
            auto [it, added] = firstOfName.emplace(nameBytes, methods.count());
            if (added) {
                in.charge(sizeof(ExportedMethod));
                ExportedMethod method;
                method.moduleIndex = 0;
                method.isVirtual = 1;
                method.name = std::move(methodName);
                methods.append(std::move(method));
            }
            int found = it->second;
            imports.append(found);
            int32_t implCount = in.coded(w.implCount);
            if (implCount < 0 ||
                int64_t(implCount) * (w.classIndex + w.codeAddress + w.gcInfoIndex) > in.remaining())
                ModuleReader::fail();
            in.charge(uint64_t(implCount) * sizeof(ExportedMethod::MethodEntry));
            for (int32_t k = 0; k < implCount; ++k) {
                int classKey = relocate(in.coded(w.classIndex), classBase);
                int address = relocate(in.coded(w.codeAddress), codeBase);
                int gcInfo = relocate(in.coded(w.gcInfoIndex), gcBase);
                methods[found].entries.append({classKey, address, gcInfo});
                highestClassIndex = std::max(highestClassIndex, classKey);
            }
        }

        // Globals: plain data, kept alive as a root.
        int32_t globalWords = in.int32();
        if (globalWords > 0) {
            if (uint32_t(globalWords) > VMHeap::kMaxBlock / 4)
                ModuleReader::fail();
            // The block, its header and the pool it may need.
            in.charge(uint64_t(globalWords) * 4 + VMHeap::kOverhead + VMSpace::kCommitGranule);
            globals_ = Word(heap_->alloc(uint32_t(globalWords) * 4, 0, GC_CODE_NATIVE));
            heap_->addRoot(Addr(globals_));
        }

        // Classes.
        int32_t classCount = in.count(1 + 4 + 4 + w.superFlag + w.skipCount);
        int64_t needed = int64_t(classBase) + classCount;
        if (needed > 0x7FFFFFFF)
            ModuleReader::fail();
        if (needed > classReferenceFields.count())
            in.charge(uint64_t(needed - classReferenceFields.count()) *
                      (2 * sizeof(Vec<int>) + sizeof(Vec<char>) + sizeof(int)));
        while (classReferenceFields.count() < needed) {
            classReferenceFields.append(Vec<int>());
            classArrayFields.append(Vec<int>());
            classArrayFieldFlags.append(Vec<char>());
        }
        for (int32_t i = 0; i < classCount; ++i) {
            int c = classBase + i;
            int ow = in.width();
            Vec<int> refs, arrays;
            Vec<char> flags;
            readSlots(in, ow, refs);
            readFlaggedSlots(in, ow, arrays, flags);
            classReferenceFields[c] = refs;
            classArrayFields[c] = arrays;
            classArrayFieldFlags[c] = flags;
            while (classParents.count() <= c)
                classParents.append(-2);
            int32_t hasSuper = in.coded(w.superFlag);
            classParents[c] = hasSuper != 0 ? relocate(in.coded(w.classIndex), classBase) : -1;
            int32_t skipCount = in.coded(w.skipCount);
            if (skipCount < 0 || int64_t(skipCount) * w.classIndex > in.remaining())
                ModuleReader::fail();
            for (int32_t k = 0; k < skipCount; ++k)
                in.coded(w.classIndex);
        }

        // Stack maps.
        int32_t mapCount = in.count(1 + w.parameterSlots + 4 + 4 + w.extraSlots + w.localSlots + 4 + 4);
        for (int32_t j = 0; j < mapCount; ++j) {
            in.charge(sizeof(MethodGCInfo) + sizeof(int32_t));
            MethodGCInfo g;
            int ow = in.width();
            g.parameterSlots = in.coded(w.parameterSlots);
            readSlots(in, ow, g.checkedReferenceSlots);
            readFlaggedSlots(in, ow, g.arrayReferenceSlots, g.arrayReferenceFlags);
            g.extraSlots = in.coded(w.extraSlots);
            g.localSlots = in.coded(w.localSlots);
            readSlots(in, ow, g.referenceSlots);
            readFlaggedSlots(in, ow, g.inlineArraySlots, g.inlineArrayFlags);
            int64_t callerSlots = int64_t(g.parameterSlots) + g.extraSlots;
            callerSlots_.push_back(int32_t(std::clamp<int64_t>(callerSlots, INT32_MIN / 2, INT32_MAX / 2)));
            gcInfos.append(std::move(g));
        }

        // String constants.
        int32_t stringCount = in.count(4);
        in.charge(uint64_t(stringCount) * sizeof(OString));
        for (int32_t i = 0; i < stringCount; ++i)
            stringPool.append(in.utf8());

        // Code: the rest of the stream, relocated.
        int64_t length = in.remaining();
        in.charge(uint64_t(length));
        std::vector<uint8_t> raw(static_cast<size_t>(length));
        in.bytes(raw.data(), length);
        std::vector<uint8_t> out;
        out.reserve(size_t(length));
        for (size_t p = 0; p < raw.size();) {
            uint8_t op = raw[p];
            size_t n = size_t(operandLength(op));
            if (p + 1 + n > raw.size())
                return false;
            size_t at = out.size() + 1;
            out.insert(out.end(), raw.begin() + long(p), raw.begin() + long(p + 1 + n));
            uint8_t* operand = out.data() + at;
            switch (op) {
            case OP_CALL: {
                putInt32(operand, relocate(getInt32(operand), codeBase));
                int32_t map = getInt32(operand + 4);
                if (map >= 0)
                    putInt32(operand + 4, relocate(map, gcBase));
                break;
            }
            case OP_VCALL: {
                int32_t local = getInt32(operand);
                if (local < 0 || local >= imports.count())
                    raiseVmError(KErrInvalidArgument);
                putInt32(operand, imports[local]);
                break;
            }
            case OP_LDSTR:
                putInt32(operand, relocate(getInt32(operand), stringBase));
                break;
            case OP_SETCLASS: {
                int32_t c = relocate(getInt32(operand), classBase);
                putInt32(operand, c);
                highestClassIndex = std::max(highestClassIndex, c);
                break;
            }
            case OP_TRY: {
                int32_t c = getInt32(operand);
                if (c >= 0)
                    putInt32(operand, relocate(c, classBase));
                putInt32(operand + 4, relocate(getInt32(operand + 4), codeBase));
                break;
            }
            default:
                break;
            }
            p += 1 + n;
        }
        resetCode();
        code_.insert(code_.end(), out.begin(), out.end());
        codeEnd_ += int(out.size());
        padCode();
        modules[index].codeLength = int(out.size());
        moduleIndex = index;
        return true;
    } catch (const ErrorHandlingException&) {
        clearPendingError();
        return false;
    }
}

}  // namespace vm
