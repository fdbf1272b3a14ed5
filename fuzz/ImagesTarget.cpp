// Image and bitmap-font files through the natives that load them: the bytes
// of the input are the file. A file that is no image loads as nothing or is
// refused with a VM error; a bitmap that loads is measured, read, copied and
// scaled, a font that loads measures text.
#include "BitmapLoading.h"
#include "FuzzSupport.h"
#include "ObjectModel.h"
#include "StringObjects.h"

namespace {

enum { BITMAP = 19, FONT = 20 };

void call(vm::VirtualMachine& machine, std::initializer_list<vm::Word> operands, int group, int function)
{
    machine.top = 0;
    for (vm::Word w : operands)
        machine.push(w);
    fuzz::guarded([&] { machine.callNative(group, function); });
}

}  // namespace

int fuzz::images(const uint8_t* data, size_t size)
{
    fuzz::FuzzHost host;
    host.file.assign(data, data + size);
    vm::VirtualMachine machine;
    machine.space().setMemoryLimit(fuzz::kMemoryLimit);
    machine.setHost(&host);
    vm::VMHeap& heap = machine.heap();
    vm::Word bitmap = 0, font = 0;
    fuzz::guarded([&] { bitmap = vm::LoadBitmapFromFile(machine, OString("image.png"), EFalse); });
    fuzz::guarded([&] { font = vm::LoadBitmapFromFile(machine, OString("font.png"), ETrue); });
    vm::Addr target = heap.alloc(8, 0, vm::GC_CODE_NATIVE);  // where natives store new bitmaps
    heap.addRoot(target);
    if (bitmap) {
        vm::Word box = vm::Word(vm::newBox(heap, bitmap));
        heap.addRoot(vm::Addr(box));
        call(machine, {box}, BITMAP, 8);
        call(machine, {box, 0, 0}, BITMAP, 7);
        call(machine, {box, 1, 1}, BITMAP, 7);
        call(machine, {vm::Word(target), box}, BITMAP, 6);
        call(machine, {vm::Word(target), box, 0, 0, 1, 1}, BITMAP, 2);
        call(machine, {box, 3, 2}, BITMAP, 10);
        call(machine, {box, 5, 4}, BITMAP, 12);
        call(machine, {box}, BITMAP, 8);
    }
    if (font) {
        heap.addRoot(vm::Addr(font));
        vm::Word text = vm::Word(vm::newStringObject(heap, OString("Hello, fonts 0123")));
        heap.addRoot(vm::Addr(text));
        call(machine, {font}, FONT, 2);
        call(machine, {font}, FONT, 3);
        call(machine, {font, text}, FONT, 4);
        call(machine, {font, text, 2, 5}, FONT, 5);
        call(machine, {font, text, 40}, FONT, 6);
    }
    fuzz::guarded([&] { heap.collect(); });
    return 0;
}
