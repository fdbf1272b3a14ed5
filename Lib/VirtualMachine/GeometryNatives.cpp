// Color, Size, Position and Rectangle groups: small value types held in VM
// variables as one, two or four words.
//
// An operand called `self` below is the address of the value's storage (a
// variable or field); every access through it is checked by the space. All
// other operands are the words themselves. Each function pops its operands
// and pushes its results in order. Comparisons give -1 for true and 0 for
// false, as the comparison instructions do. Errors carry no message.
#include <cstdint>

#include "VirtualMachine.h"

namespace vm {

namespace {

constexpr TUint32 kPredefinedColours[] = {
    0xFFFF0000,  // 14 red
    0xFF00FF00,  // 15 green
    0xFF0000FF,  // 16 blue
    0xFF000000,  // 17 black
    0xFFFFFFFF,  // 18 white
    0xFF00FFFF,  // 19 cyan
    0xFFFF00FF,  // 20 magenta
    0xFFFFFF00,  // 21 yellow
    0xFF808080,  // 22 grey
    0xFF964B00,  // 23 brown
    0xFFFF7F00,  // 24 orange
};

Word truth(bool aValue)
{
    return aValue ? -1 : 0;
}

[[noreturn]] void badArgument()
{
    raiseVmError(KErrInvalidArgument);
}

// A colour component: 0-255, compared unsigned (negatives fail).
TUint32 component(Word aValue)
{
    if (TUint32(aValue) > 255)
        badArgument();
    return TUint32(aValue);
}

Word nonNegative(Word aValue)
{
    if (aValue < 0)
        badArgument();
    return aValue;
}

// right - left as a width or height: must be representable and >= 0.
Word extentBetween(Word aLeft, Word aRight)
{
    int64_t extent = int64_t(aRight) - int64_t(aLeft);
    if (extent < 0 || extent > INT32_MAX)
        badArgument();
    return Word(extent);
}

Word wrappingSum(Word aA, Word aB)
{
    return Word(TUint32(aA) + TUint32(aB));
}

// The words of a value of n words at address a.
struct Value {
    VMSpace& space;
    Addr address;
    Word get(int i) const { return space.loadWord(address + 4u * uint32_t(i)); }
    void set(int i, Word v) const { space.storeWord(address + 4u * uint32_t(i), v); }
    void copyFrom(Addr aSource, int aWords) const
    {
        Word words[4];
        for (int i = 0; i < aWords; ++i)
            words[i] = space.loadWord(aSource + 4u * uint32_t(i));
        for (int i = 0; i < aWords; ++i)
            set(i, words[i]);
    }
};

}  // namespace

void VirtualMachine::colorNative(int function)
{
    if (function >= 14 && function <= 24) {
        push(Word(kPredefinedColours[function - 14]));
        return;
    }
    switch (function) {
    case 1: {  // self -> opaque white
        Value self{space_, Addr(arg(0))};
        self.set(0, Word(0xFFFFFFFFu));
        pop(1);
        return;
    }
    case 2: {  // self, source
        Value self{space_, Addr(arg(1))};
        self.copyFrom(Addr(arg(0)), 1);
        pop(2);
        return;
    }
    case 3: {  // self, red, green, blue, alpha
        Value self{space_, Addr(arg(4))};
        TUint32 red = component(arg(3)), green = component(arg(2)), blue = component(arg(1));
        TUint32 alpha = component(arg(0));
        self.set(0, Word(alpha << 24 | red << 16 | green << 8 | blue));
        pop(5);
        return;
    }
    case 4:
    case 5:
    case 6:
    case 7: {  // self -> red, green, blue, alpha
        static constexpr int kShift[] = {16, 8, 0, 24};
        Value self{space_, Addr(arg(0))};
        arg(0) = Word((TUint32(self.get(0)) >> kShift[function - 4]) & 0xFF);
        return;
    }
    case 8:
    case 9:
    case 10:
    case 11: {  // self, value: set red, green, blue, alpha
        static constexpr int kShift[] = {16, 8, 0, 24};
        Value self{space_, Addr(arg(1))};
        TUint32 value = component(arg(0));
        int shift = kShift[function - 8];
        TUint32 colour = TUint32(self.get(0));
        self.set(0, Word((colour & ~(0xFFu << shift)) | value << shift));
        pop(2);
        return;
    }
    case 12:
    case 13: {  // colour, colour -> equal / not equal
        bool equal = arg(1) == arg(0);
        pop(2);
        push(truth(function == 12 ? equal : !equal));
        return;
    }
    default:
        unknownNativeFunction("Color:");
    }
}

namespace {

// Size and Position share their nine functions; sizes reject negatives.
void pairNative(VirtualMachine& aVm, int aFunction, bool aSized, const char* aLabel)
{
    auto checked = [aSized](Word v) { return aSized ? nonNegative(v) : v; };
    VMSpace& space = aVm.space();
    switch (aFunction) {
    case 1: {  // self -> (0, 0)
        Value self{space, Addr(aVm.arg(0))};
        self.set(0, 0);
        self.set(1, 0);
        aVm.pop(1);
        return;
    }
    case 2: {  // self, source
        Value self{space, Addr(aVm.arg(1))};
        self.copyFrom(Addr(aVm.arg(0)), 2);
        aVm.pop(2);
        return;
    }
    case 3: {  // self, first, second
        Value self{space, Addr(aVm.arg(2))};
        Word first = checked(aVm.arg(1)), second = checked(aVm.arg(0));
        self.set(0, first);
        self.set(1, second);
        aVm.pop(3);
        return;
    }
    case 4:
    case 5: {  // self -> first / second
        Value self{space, Addr(aVm.arg(0))};
        aVm.arg(0) = self.get(aFunction - 4);
        return;
    }
    case 6:
    case 7: {  // self, value: set first / second
        Value self{space, Addr(aVm.arg(1))};
        self.set(aFunction - 6, checked(aVm.arg(0)));
        aVm.pop(2);
        return;
    }
    case 8:
    case 9: {  // a, b, a, b -> equal / not equal
        bool equal = aVm.arg(3) == aVm.arg(1) && aVm.arg(2) == aVm.arg(0);
        aVm.pop(4);
        aVm.push(truth(aFunction == 8 ? equal : !equal));
        return;
    }
    default:
        aVm.unknownNativeFunction(aLabel);
    }
}

}  // namespace

void VirtualMachine::sizeNative(int function)
{
    pairNative(*this, function, true, "Size:");
}

void VirtualMachine::positionNative(int function)
{
    pairNative(*this, function, false, "Position:");
}

void VirtualMachine::rectangleNative(int function)
{
    enum { X, Y, W, H };
    switch (function) {
    case 1: {  // self -> (0, 0, 0, 0)
        Value self{space_, Addr(arg(0))};
        for (int i = 0; i < 4; ++i)
            self.set(i, 0);
        pop(1);
        return;
    }
    case 2: {  // self, source
        Value self{space_, Addr(arg(1))};
        self.copyFrom(Addr(arg(0)), 4);
        pop(2);
        return;
    }
    case 3: {  // self, x, y, width, height
        Value self{space_, Addr(arg(4))};
        for (int i = 0; i < 4; ++i)
            self.set(i, arg(3 - i));
        pop(5);
        return;
    }
    case 4:
    case 5: {  // self -> x, y / width, height
        Value self{space_, Addr(arg(0))};
        int first = function == 4 ? X : W;
        Word a = self.get(first), b = self.get(first + 1);
        arg(0) = a;
        push(b);
        return;
    }
    case 6:
    case 7:
    case 8:
    case 9: {  // self -> x / y / width / height
        Value self{space_, Addr(arg(0))};
        arg(0) = self.get(function - 6);
        return;
    }
    case 10:
    case 11: {  // self -> right / bottom
        Value self{space_, Addr(arg(0))};
        int axis = function - 10;
        arg(0) = wrappingSum(self.get(X + axis), self.get(W + axis));
        return;
    }
    case 12:
    case 13: {  // self, a, b: set the position / the size (no sign check)
        Value self{space_, Addr(arg(2))};
        int first = function == 12 ? X : W;
        self.set(first, arg(1));
        self.set(first + 1, arg(0));
        pop(3);
        return;
    }
    case 14:
    case 15:
    case 16:
    case 17: {  // self, value: set x / y / width / height
        Value self{space_, Addr(arg(1))};
        int index = function - 14;
        Word value = index >= W ? nonNegative(arg(0)) : arg(0);
        self.set(index, value);
        pop(2);
        return;
    }
    case 18:
    case 19: {  // self, right / bottom: the extent from the edge
        Value self{space_, Addr(arg(1))};
        int axis = function - 18;
        self.set(W + axis, extentBetween(self.get(X + axis), arg(0)));
        pop(2);
        return;
    }
    case 20:
    case 21: {  // rectangle, rectangle -> equal / not equal
        bool equal = true;
        for (int i = 0; i < 4; ++i)
            equal = equal && arg(7 - i) == arg(3 - i);
        pop(8);
        push(truth(function == 20 ? equal : !equal));
        return;
    }
    default:
        unknownNativeFunction("Rectangle:");
    }
}

}  // namespace vm
