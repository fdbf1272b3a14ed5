// The same program with and without a collection at every call must log the
// same lines. The input drives a generator of programs that are correct by
// construction: references live only where the stack maps, class layouts,
// vectors and globals say, so what a program logs does not depend on when
// collections run. A difference is a collector that freed a live object.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Assembler.h"
#include "FuzzSupport.h"

namespace {

// Node: field 1 and 2 references, field 3 an int. main's locals 1..8 are
// precise reference slots; "chain" makes a list of n nodes (a collection
// under stress at each one), "thrower" throws such a list, "sum" adds the
// ints of up to 20 nodes of a list.
const char* const kRuntime = R"(
.module "differential"
.globals 4
.class Node refs 1 2
.map plain
.map main locals 8 refs 1 2 3 4 5 6 7 8
.map chain params 1 extra 1 locals 2 refs 0 3 4
.map thrower params 1
.map sum params 1 extra 1 locals 1 refs 1
.static "::global::init" init map plain
.static "main" main map main
.code
init:
    ret 0, 1
chain:                      ; result, n, return address; head, node
    adjust.s 2
chain_loop:
    ldslot.s -4
    jz.s chain_done
    ldaddr.s -1
    new 1, 4
    stind
    ldslot.s -1
    setclass Node
    ldslot.s -1
    field.s 1
    ldslot.s -3
    stind
    ldslot.s -1
    field.s 3
    ldslot.s -5
    stind
    ldaddr.s -2
    ldslot.s -2
    stind
    native Debug 3
    ldaddr.s -4
    dec.i
    jmp.s chain_loop
chain_done:
    ldaddr.s -5
    ldslot.s -3
    stind
    ret 2, 4
thrower:                    ; n, return address
    ldzero
    ldslot.s -3
    call chain
    native Debug 3
    throw
sum:                        ; result, list, return address; count
    push 20
sum_loop:
    ldslot.s -3
    jz.s sum_done
    ldslot.s -1
    jz.s sum_done
    ldaddr.s -4
    ldslot.s -4
    field.s 3
    ldind
    add.i
    ldaddr.s -3
    ldslot.s -4
    field.s 1
    ldind
    stind
    ldaddr.s -1
    dec.i
    jmp.s sum_loop
sum_done:
    ret 1, 3
main:
    adjust.s 8
)";

enum Type { Null, NodeOrNull, Text, Vector };

class Generator {
public:
    Generator(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    std::string program()
    {
        out_ = kRuntime;
        for (int op = 0; op < 64 && p_ < size_; ++op)
            operation();
        for (int i = 1; i <= 8; ++i) {
            if (locals_[i] == NodeOrNull) {
                emit("ldzero");
                emit(load(i, 1));
                emit("call sum");
                emit("itos");
                emit("native Debug 1");
            }
        }
        emit("ret 8, 9");
        return out_;
    }

private:
    uint8_t next() { return p_ < size_ ? data_[p_++] : 0; }
    int local() { return 1 + next() % 8; }
    void emit(const std::string& line) { out_ += "    " + line + "\n"; }
    std::string label() { return "L" + std::to_string(labels_++); }
    // ldslot / ldaddr of local i with `above` words pushed over the locals.
    static std::string load(int i, int above) { return "ldslot.s " + std::to_string(i - 9 - above); }
    static std::string address(int i, int above) { return "ldaddr.s " + std::to_string(i - 9 - above); }

    void operation()
    {
        int i = local(), j = local();
        switch (next() % 15) {
        case 0:  // a new node
            emit(address(i, 0));
            emit("new 1, 4");
            emit("dup");
            emit("setclass Node");
            emit("dup");
            emit("field.s 3");
            emit("push " + std::to_string(next()));
            emit("stind");
            emit("stind");
            locals_[i] = NodeOrNull;
            return;
        case 1:  // i.f1 = j
            if (locals_[i] == NodeOrNull && (locals_[j] == NodeOrNull || locals_[j] == Null)) {
                std::string skip = label();
                emit(load(i, 0));
                emit("jz.s " + skip);
                emit(load(i, 0));
                emit("field.s " + std::to_string(1 + next() % 2));
                emit(load(j, 1));
                emit("stind");
                out_ += skip + ":\n";
            }
            return;
        case 2:  // i = j.f1, or null when j is null
            if (locals_[j] == NodeOrNull) {
                std::string null = label(), done = label();
                emit(load(j, 0));
                emit("jz.s " + null);
                emit(address(i, 0));
                emit(load(j, 1));
                emit("field.s " + std::to_string(1 + next() % 2));
                emit("ldind");
                emit("stind");
                emit("jmp.s " + done);
                out_ += null + ":\n";
                emit(address(i, 0));
                emit("ldzero");
                emit("stind");
                out_ += done + ":\n";
                locals_[i] = NodeOrNull;
            }
            return;
        case 3:
            emit(address(i, 0));
            emit("ldzero");
            emit("stind");
            locals_[i] = Null;
            return;
        case 4:
        case 5:
            if (locals_[i] == NodeOrNull) {
                std::string skip = label();
                emit(load(i, 0));
                emit("jz.s " + skip);
                emit(load(i, 0));
                emit("field.s 3");
                if (next() & 1) {  // log i.f3
                    emit("ldind");
                    emit("itos");
                    emit("native Debug 1");
                } else {  // i.f3 += n
                    emit("push " + std::to_string(next()));
                    emit("add.i");
                }
                out_ += skip + ":\n";
            }
            return;
        case 6:  // i = chain(n)
            emit(address(i, 0));
            emit("ldzero");
            emit("push " + std::to_string(next() % 9));
            emit("call chain");
            emit("stind");
            locals_[i] = NodeOrNull;
            return;
        case 7: {  // global k = i
            int k = next() % 4;
            emit("globals");
            emit("field.s " + std::to_string(k));
            emit(load(i, 1));
            emit("stind");
            globals_[k] = locals_[i];
            return;
        }
        case 8: {  // i = global k
            int k = next() % 4;
            emit(address(i, 0));
            emit("globals");
            emit("field.s " + std::to_string(k));
            emit("ldind");
            emit("stind");
            locals_[i] = globals_[k];
            return;
        }
        case 9:  // i = a string
            emit(address(i, 0));
            emit("push " + std::to_string(int(next()) * 1000 - 7));
            emit("itos");
            emit("stind");
            locals_[i] = Text;
            return;
        case 10: {  // i = the list that "thrower" throws
            std::string caught = label();
            emit(address(i, 0));
            emit("try any " + caught);
            emit("push " + std::to_string(1 + next() % 8));  // a list of at least one node
            emit("call thrower");
            out_ += caught + ":\n";
            emit("stind");
            locals_[i] = NodeOrNull;
            return;
        }
        case 11: {  // i = a vector of j and k
            int k = local();
            if ((locals_[j] != NodeOrNull && locals_[j] != Null) || (locals_[k] != NodeOrNull && locals_[k] != Null))
                return;
            emit(address(i, 0));
            emit("new 7, 2");
            emit("dup");
            emit("newvec 4");
            emit("dup");
            emit("ldind");
            emit("dup");
            emit("field.s 1");
            emit(load(j, 4));
            emit(load(k, 5));
            emit("mkblock.s 2");
            emit("stind");
            emit("dup");
            emit("field.s 2");
            emit("push 2");
            emit("stind");
            emit("field.s 3");
            emit("push 2");
            emit("stind");
            emit("stind");
            locals_[i] = Vector;
            return;
        }
        case 12:  // i = element e of vector j
            if (locals_[j] == Vector) {
                emit(address(i, 0));
                emit(load(j, 1));
                emit("ldind");
                emit("field.s 1");
                emit("ldind");
                emit("field.s " + std::to_string(next() % 2));
                emit("ldind");
                emit("stind");
                locals_[i] = NodeOrNull;
            }
            return;
        case 13:
            if (locals_[i] == Text) {
                emit(load(i, 0));
                emit("native Debug 1");
            }
            return;
        default:  // i = j
            emit(address(i, 0));
            emit(load(j, 1));
            emit("stind");
            locals_[i] = locals_[j];
            return;
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t p_ = 0;
    int labels_ = 0;
    std::string out_;
    Type locals_[9] = {};
    Type globals_[4] = {};
};

}  // namespace

int fuzz::gcDifferential(const uint8_t* data, size_t size)
{
    std::string source = Generator(data, size).program();
    std::vector<uint8_t> bytes = mcb::assemble(source, "differential.mcbs");
    fuzz::Run plainRun = fuzz::runProgram(bytes.data(), bytes.size(), false);
    const std::vector<std::string>& plain = plainRun.logs;
    const std::vector<std::string> stressed = fuzz::runProgram(bytes.data(), bytes.size(), true).logs;
    // A generated program is correct, so main returns normally; if not, the
    // generator or the runtime is wrong.
    if (!plainRun.started || plain != stressed) {
        std::fprintf(stderr, "%s", plainRun.started ? "" : "main did not return normally\n");
        std::fprintf(stderr, "%s\nwithout stress:\n", source.c_str());
        for (const std::string& line : plain)
            std::fprintf(stderr, "  %s\n", line.c_str());
        std::fprintf(stderr, "with stress:\n");
        for (const std::string& line : stressed)
            std::fprintf(stderr, "  %s\n", line.c_str());
        std::abort();
    }
    return 0;
}
