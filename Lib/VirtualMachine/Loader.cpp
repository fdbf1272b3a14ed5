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
#include "ModuleFormat.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

// Every read names what it reads; the first one that fails records why, at
// which byte offset of the file, as the disassembler words it.
class ModuleReader {
public:
    ModuleReader(CAppsFileReader& reader, uint64_t budget, std::string& failure)
        : reader_(reader), budget_(budget), failure_(failure)
    {
    }

    [[noreturn]] void fail(int64_t at, const std::string& reason)
    {
        if (failure_.empty())
            failure_ = "offset " + std::to_string(at) + ": " + reason;
        raiseVmError(KErrVm);
    }
    int64_t position() const { return reader_.position(); }

    // Accounts for bytes the module will hold; fails beyond the budget.
    // `at` is the offset of the field that asks for them (-1: here).
    void charge(uint64_t bytes, int64_t at = -1)
    {
        if (bytes > budget_) {
            if (failure_.empty())
                failure_ = "offset " + std::to_string(at < 0 ? position() : at) +
                           ": the module needs more memory than the VM may take";
            raiseVmError(KErrVm, "Out of memory");
        }
        budget_ -= bytes;
    }

    uint8_t byte(const char* what)
    {
        TUint8 b;
        int64_t at = position();
        if (!reader_.readByte(b))
            fail(at, std::string("file ends inside ") + what);
        return b;
    }
    void bytes(uint8_t* out, int64_t n, const char* what)
    {
        int64_t at = position();
        if (n < 0 || n > remaining() || (n > 0 && !reader_.read(out, TUint32(n))))
            fail(at, std::string("file ends inside ") + what);
    }
    int32_t int32(const char* what)
    {
        uint8_t b[4];
        bytes(b, 4, what);
        return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    }
    // A count of records that follow. Each record reads at least one byte,
    // so a count larger than the file ends at the first read past its end:
    // loops stay linear in the file's size, and whatever a count reserves up
    // front is bounded by the bytes left or charged first.
    int32_t count(const char* what)
    {
        int64_t at = position();
        int32_t n = int32(what);
        checkCount(at, n, what);
        return n;
    }
    int32_t codedCount(int width, const char* what)
    {
        int64_t at = position();
        int32_t n = coded(width, what);
        checkCount(at, n, what);
        return n;
    }
    void checkCount(int64_t at, int32_t n, const char* what)
    {
        if (n < 0)
            fail(at, std::string("negative ") + what + " " + std::to_string(n));
    }
    // The length of a name or text that follows: the bytes must be there.
    int32_t length(const char* what)
    {
        int32_t n = count(what);
        if (n > remaining())
            fail(position(), std::string("file ends inside ") + what);
        return n;
    }
    // Width-coded: 1 and 2 bytes unsigned, 4 bytes signed.
    int32_t coded(int width, const char* what)
    {
        uint8_t b[4];
        bytes(b, width, what);
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
    int width(const char* what)
    {
        int64_t at = position();
        int w = byte(what);
        if (!validWidth(w))
            fail(at, std::string("bad ") + what + " " + std::to_string(w) + " (must be 1, 2 or 4)");
        return w;
    }
    // A method name: its bytes (the key of name merging) and the string.
    CAppsString name(std::string& raw, const char* what)
    {
        int32_t n = length(what);
        charge(uint64_t(n) * 3 + 64);
        raw.resize(static_cast<size_t>(n));
        bytes(reinterpret_cast<uint8_t*>(raw.data()), n, what);
        CAppsString s;
        s.setCapacity(n);
        for (char c : raw)
            s.append(uint8_t(c));
        return s;
    }
    OString utf8(const char* what)
    {
        int32_t n = length(what);
        charge(uint64_t(n) * 2 + 64);
        std::vector<uint8_t> raw(static_cast<size_t>(n));
        bytes(raw.data(), n, what);
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
    std::string& failure_;
};

struct Widths {
    int codeAddress, gcInfoIndex, classIndex, superFlag, skipCount, parameterSlots, extraSlots, localSlots,
        implCount;
};

void readSlots(ModuleReader& in, int w, Vec<int>& slots, const char* what)
{
    int32_t n = in.count(what);
    for (int32_t i = 0; i < n; ++i) {
        in.charge(sizeof(int));
        slots.append(in.coded(w, what));
    }
}

void readFlaggedSlots(ModuleReader& in, int w, Vec<int>& slots, Vec<char>& flags, const char* what)
{
    int32_t n = in.count(what);
    for (int32_t i = 0; i < n; ++i) {
        in.charge(sizeof(int) + 1);
        int64_t at = in.position();
        uint8_t flag = in.byte(what);
        if (flag != 0 && flag != 255)
            in.fail(at, "bad flag " + std::to_string(flag) + " in " + what + " (must be 0 or 255)");
        flags.append(char(flag));
        slots.append(in.coded(w, what));
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
    loadFailure_.clear();
    ModuleReader in(reader, space_.available(), loadFailure_);
    try {
        // Identity.
        uint8_t idLength = in.byte("module id length");
        if (idLength != 20)
            in.fail(0, "bad module id length " + std::to_string(idLength) + " (must be 20)");
        Vec<unsigned char> moduleId;
        uint8_t id[20];
        in.bytes(id, 20, "module id");
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

        int64_t magicAt = in.position();
        uint8_t magic[2];
        in.bytes(magic, 2, "magic");
        if (magic[0] != 0xFF || magic[1] != 0xFF)
            in.fail(magicAt, "bad magic (must be FF FF)");
        Widths w;
        int f = 0;
        for (int* field : {&w.codeAddress, &w.gcInfoIndex, &w.classIndex, &w.superFlag, &w.skipCount,
                           &w.parameterSlots, &w.extraSlots, &w.localSlots, &w.implCount}) {
            std::string what = std::string("header width '") + kHeaderWidthNames[f++] + "'";
            *field = in.width(what.c_str());
        }

        // The first method of each name, for merging virtual methods. Names
        // come from files, one byte per character.
        std::unordered_map<std::string, int> firstOfName;
        firstOfName.reserve(size_t(methods.count()));
        for (int m = 0; m < methods.count(); ++m)
            firstOfName.emplace(methods[m].name.toLatin1(), m);
        std::string nameBytes;

        // Static methods.
        int32_t staticCount = in.count("static method count");
        for (int32_t i = 0; i < staticCount; ++i) {
            in.charge(sizeof(ExportedMethod) + sizeof(ExportedMethod::MethodEntry));
            ExportedMethod method;
            method.moduleIndex = index;
            method.isVirtual = 0;
            method.name = in.name(nameBytes, "static method name");
            int address = in.coded(w.codeAddress, "static method code address");
            int gcInfo = in.coded(w.gcInfoIndex, "static method stack-map index");
            method.entries.append({-1, relocate(address, codeBase), relocate(gcInfo, gcBase)});
            methods.append(std::move(method));
            firstOfName.emplace(nameBytes, methods.count() - 1);
        }

        // Virtual methods and the module's import list.
        Vec<int> imports;
        int32_t virtualCount = in.count("virtual method count");
        firstOfName.reserve(firstOfName.size() + size_t(std::min<int64_t>(virtualCount, in.remaining())));
        for (int32_t i = 0; i < virtualCount; ++i) {
            in.charge(sizeof(int));
            CAppsString methodName = in.name(nameBytes, "virtual method name");
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
            int32_t implCount = in.codedCount(w.implCount, "implementation count");
            for (int32_t k = 0; k < implCount; ++k) {
                in.charge(sizeof(ExportedMethod::MethodEntry));
                int classKey = relocate(in.coded(w.classIndex, "implementation class index"), classBase);
                int address = relocate(in.coded(w.codeAddress, "implementation code address"), codeBase);
                int gcInfo = relocate(in.coded(w.gcInfoIndex, "implementation stack-map index"), gcBase);
                methods[found].entries.append({classKey, address, gcInfo});
                highestClassIndex = std::max(highestClassIndex, classKey);
            }
        }

        // Globals: plain data, kept alive as a root.
        int64_t globalsAt = in.position();
        int32_t globalWords = in.int32("globals size");
        if (globalWords > 0) {
            if (uint32_t(globalWords) > VMHeap::kMaxBlock / 4)
                in.fail(globalsAt, "globals size " + std::to_string(globalWords) + " words exceeds the largest block");
            // The block, its header and the pool it may need.
            in.charge(uint64_t(globalWords) * 4 + VMHeap::kOverhead + VMSpace::kCommitGranule, globalsAt);
            globals_ = Word(heap_->alloc(uint32_t(globalWords) * 4, 0, GC_CODE_NATIVE));
            heap_->addRoot(Addr(globals_));
        }

        // Classes.
        int64_t classesAt = in.position();
        int32_t classCount = in.count("class count");
        // The class tables grow up front: a record takes at least 11 bytes.
        const int64_t classBytes = 1 + 4 + 4 + w.superFlag + w.skipCount;
        if (int64_t(classCount) * classBytes > in.remaining())
            in.fail(in.position() + in.remaining(), "file ends inside class records");
        int64_t needed = int64_t(classBase) + classCount;
        if (needed > 0x7FFFFFFF)
            in.fail(classesAt, "class count " + std::to_string(classCount) + " exceeds the class numbers left");
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
            int ow = in.width("class record width");
            Vec<int> refs, arrays;
            Vec<char> flags;
            readSlots(in, ow, refs, "class reference fields");
            readFlaggedSlots(in, ow, arrays, flags, "class array fields");
            classReferenceFields[c] = refs;
            classArrayFields[c] = arrays;
            classArrayFieldFlags[c] = flags;
            while (classParents.count() <= c)
                classParents.append(-2);
            int32_t hasSuper = in.coded(w.superFlag, "class superclass flag");
            classParents[c] = hasSuper != 0 ? relocate(in.coded(w.classIndex, "superclass index"), classBase) : -1;
            int32_t skipCount = in.codedCount(w.skipCount, "skipped class count");
            for (int32_t k = 0; k < skipCount; ++k)
                in.coded(w.classIndex, "skipped class index");
        }

        // Stack maps.
        int32_t mapCount = in.count("stack-map count");
        for (int32_t j = 0; j < mapCount; ++j) {
            in.charge(sizeof(MethodGCInfo) + sizeof(int32_t));
            MethodGCInfo g;
            int ow = in.width("stack-map record width");
            g.parameterSlots = in.coded(w.parameterSlots, "stack-map parameter slots");
            readSlots(in, ow, g.checkedReferenceSlots, "stack-map checked reference slots");
            readFlaggedSlots(in, ow, g.arrayReferenceSlots, g.arrayReferenceFlags, "stack-map array reference slots");
            g.extraSlots = in.coded(w.extraSlots, "stack-map extra slots");
            g.localSlots = in.coded(w.localSlots, "stack-map local slots");
            readSlots(in, ow, g.referenceSlots, "stack-map reference slots");
            readFlaggedSlots(in, ow, g.inlineArraySlots, g.inlineArrayFlags, "stack-map inline array slots");
            int64_t callerSlots = int64_t(g.parameterSlots) + g.extraSlots;
            callerSlots_.push_back(int32_t(std::clamp<int64_t>(callerSlots, INT32_MIN / 2, INT32_MAX / 2)));
            gcInfos.append(std::move(g));
        }

        // String constants.
        int32_t stringCount = in.count("string count");
        for (int32_t i = 0; i < stringCount; ++i) {
            in.charge(sizeof(OString));
            stringPool.append(in.utf8("string constant"));
        }

        // Code: the rest of the stream, relocated.
        const int64_t codeStart = in.position();
        int64_t length = in.remaining();
        in.charge(uint64_t(length));
        std::vector<uint8_t> raw(static_cast<size_t>(length));
        in.bytes(raw.data(), length, "code");
        std::vector<uint8_t> out;
        out.reserve(size_t(length));
        for (size_t p = 0; p < raw.size();) {
            uint8_t op = raw[p];
            size_t n = size_t(operandLength(op));
            if (p + 1 + n > raw.size())
                in.fail(codeStart + int64_t(p), "code offset " + std::to_string(p) +
                                                    ": instruction cut off by the end of the file");
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
                    in.fail(codeStart + int64_t(p), "code offset " + std::to_string(p) +
                                                        ": virtual method number " + std::to_string(local) +
                                                        " outside the module's " + std::to_string(imports.count()) +
                                                        " virtual methods");
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
