// Native groups on operand stacks made from the input, over a heap that holds
// a few strings, vectors, longs, boxes, an instance, a key event, a screen
// graphics object and a bitmap. The input is a sequence of calls:
//   group selector, function number, count (low nibble: words to push;
//   bit 7: a collection with the stack afterwards), then one selector per
//   word: below 0xF0 a word of the pool, else the next four bytes.
// Whatever the words are, a native succeeds or raises a VM error.
#include <QBuffer>
#include <QImage>
#include <QPixmap>
#include <cstring>

#include "Assembler.h"
#include "BitmapLoading.h"
#include "Drawable.h"
#include "FuzzSupport.h"
#include "GraphicsContainer.h"
#include "IO/CAppsFileReader.h"
#include "KeyEvent.h"
#include "ObjectModel.h"

namespace {

// Globals 0..9: strings, vectors of bytes, ints and objects, a long, a box,
// an instance, an empty vector.
const char* const kSetup = R"(
.module "natives"
.globals 10
.class Thing refs 1
.map m
.static "::global::init" init map m
.static "main" main map m
.code
init:
    ret 0, 1
main:
    globals
    ldstr "hello, world"
    stind
    globals
    field.s 1
    ldstr ""
    stind
    globals                 ; [2] bytes 1 2 3
    field.s 2
    new 6, 2
    dup
    newvec 1
    dup
    ldind
    dup
    field.s 1
    push 0x030201
    mkblock.s 1
    stind
    dup
    field.s 2
    push 4
    stind
    field.s 3
    push 3
    stind
    stind
    globals                 ; [3] ints 5 -7 100
    field.s 3
    new 6, 2
    dup
    newvec 4
    dup
    ldind
    dup
    field.s 1
    push 5
    push -7
    push 100
    mkblock.s 3
    stind
    dup
    field.s 2
    push 3
    stind
    field.s 3
    push 3
    stind
    stind
    globals                 ; [4] objects: the two strings
    field.s 4
    new 7, 2
    dup
    newvec 4
    dup
    ldind
    dup
    field.s 1
    globals
    ldind
    globals
    field.s 1
    ldind
    mkblock.s 2
    stind
    dup
    field.s 2
    push 2
    stind
    field.s 3
    push 2
    stind
    stind
    globals                 ; [5] the long 0x123456789
    field.s 5
    push 0x23456789
    push 1
    mkblock.s 2
    stind
    globals                 ; [6] a box of 5
    field.s 6
    push 5
    box
    stind
    globals                 ; [7] an instance
    field.s 7
    new 1, 2
    dup
    setclass Thing
    stind
    globals                 ; [8] an empty vector
    field.s 8
    new 6, 2
    dup
    newvec 4
    stind
    ret 0, 1
)";

std::vector<uint8_t>& setupProgram()
{
    static std::vector<uint8_t> bytes = mcb::assemble(kSetup, "natives.mcbs");
    return bytes;
}

QPixmap& screen()
{
    static QPixmap pixmap(64, 48);
    return pixmap;
}

std::vector<uint8_t>& pngBytes()
{
    static std::vector<uint8_t> bytes = [] {
        QImage image(5, 3, QImage::Format_ARGB32);
        image.fill(0xFF336699u);
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return std::vector<uint8_t>(data.begin(), data.end());
    }();
    return bytes;
}

const int kGroups[] = {1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                       19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36};

}  // namespace

int fuzz::natives(const uint8_t* data, size_t size)
{
    fuzz::FuzzHost host;
    host.file = pngBytes();
    vm::VirtualMachine machine;
    machine.space().setMemoryLimit(fuzz::kMemoryLimit);
    machine.setStepLimit(10000);
    machine.seedRandom(7);
    const std::vector<uint8_t>& setup = setupProgram();
    CAppsFileReader reader(setup.data(), TUint32(setup.size()));
    if (!fuzz::guarded([&] { machine.start(reader, CAppsString("index.mcb"), &host); }))
        std::abort();  // the set-up program itself must run
    vm::VMHeap& heap = machine.heap();
    vm::VMSpace& space = machine.space();

    std::vector<vm::Word> pool;
    for (int i = 0; i < 10; ++i)
        pool.push_back(space.loadWord(vm::Addr(machine.globals()) + 4 * uint32_t(i)));
    auto keep = [&](vm::Addr a) {  // host-made objects, kept by roots
        heap.addRoot(a);
        pool.push_back(vm::Word(a));
    };
    keep( heap.construct<Kelvar::KeyEvent>(Kelvar::KeyEvent::kBlockSize, vm::GC_CODE_NATIVE, 65, 38, 0,
                                            OString("a")));
    vm::Addr container = vm::newGraphicsContainer(heap, &screen());
    keep(vm::newBox(heap, vm::Word(vm::createGraphicsDrawable(heap, container))));
    keep(vm::newBox(heap, vm::Word(vm::newBitmapRecord(heap, pngBytes().data(), int64_t(pngBytes().size())))));
    pool.push_back(machine.globals());
    for (vm::Word w : {0, 1, -1, 2, 3, 4, 7, 8, 16, 31, 32, 255, 256, 1000, 65535, 65536, 0x7FFFFFFF,
                       int32_t(0x80000000), -2, 0x1000, 1 << 30})
        pool.push_back(w);
    for (int i = 1; i <= 8; ++i)  // addresses of stack slots, as variables
        pool.push_back(vm::Word(machine.slotAddress(100 + i)));

    machine.pc = 0;
    machine.top = 0;
    size_t p = 0;
    auto next = [&]() -> uint8_t { return p < size ? data[p++] : 0; };
    for (int call = 0; call < 16 && p < size; ++call) {
        int group = kGroups[next() % std::size(kGroups)];
        int function = int8_t(next());
        uint8_t count = next();
        for (int k = 0; k < (count & 15); ++k) {
            uint8_t s = next();
            vm::Word w;
            if (s >= 0xF0) {
                uint32_t v = 0;
                for (int b = 0; b < 4; ++b)
                    v |= uint32_t(next()) << (8 * b);
                w = vm::Word(v);
            } else {
                w = pool[s % pool.size()];
            }
            if (machine.top < 90)
                machine.push(w);
        }
        if (!fuzz::guarded([&] { machine.callNative(group, function); }))
            machine.top = std::min(std::max(machine.top, 0), 90);
        if (count & 0x80)
            fuzz::guarded([&] { machine.collectWithStack(); });
        if (machine.top < 0 || machine.top > 90)
            machine.top = 0;
    }
    fuzz::guarded([&] { machine.collectWithStack(); });
    fuzz::guarded([&] { heap.collect(); });
    return 0;
}
