// Vector groups 1 and 3-7: one handler over the element kind.
//
// Operands are the topmost stack words, the last operand on top: V, W a
// vector (its holder), E one element (SIZE words, the last on top), I an
// integer, R a range (start, then length on top; a negative start raises
// code 5), O a cell that receives a new vector record. Every vector is read
// through a validated OVector, so a scribbled holder or record raises a VM
// error instead of reaching outside the vector's array.
//
// Ranges: end = start + length - 1, or count - 1 for a negative length
// (codes 83 and 84 take the length as given); a range is valid when
// 0 <= start <= end < count. Removals raise code 5 for an invalid range;
// taking, inserting or replacing by a non-empty part do nothing for one.
#include <cstring>

#include "Containers/OVector.h"
#include "ObjectModel.h"
#include "RangeCheck.h"
#include "VirtualMachine.h"

namespace vm {
namespace {

struct RangeOperand {
    int32_t start;
    int32_t length;
};

// Elements first..end of a vector; an invalid range is the empty part.
struct Part {
    int first = 0;
    int count = 0;
    bool valid = false;
};

Part partOf(RangeOperand r, int count, bool lengthAsGiven = false)
{
    int64_t end = r.length < 0 && !lengthAsGiven ? int64_t(count) - 1 : int64_t(r.start) + r.length - 1;
    Part p;
    if (r.start >= 0 && r.start <= end && end < count)
        p = Part{r.start, int(end - r.start + 1), true};
    return p;
}

// The operands of one call, read from the top of the stack down (so in the
// reverse order of the operand list); done() removes them all.
template <typename TYPE, int SIZE>
class VectorCall {
public:
    using Element = ObjectWrapper<TYPE, SIZE>;
    static constexpr uint32_t kBytes = sizeof(Element);
    static_assert(kBytes == 1 || kBytes == 4 || kBytes == 8 || kBytes == 12 || kBytes == 16);

    explicit VectorCall(VirtualMachine& vm) : vm_(vm) {}

    int32_t integer() { return vm_.arg(depth_++); }
    RangeOperand range()
    {
        RangeOperand r{vm_.arg(depth_ + 1), vm_.arg(depth_)};
        depth_ += 2;
        if (r.start < 0) [[unlikely]]
            raiseVmError(KErrRange);
        return r;
    }
    Element element()
    {
        Element e;
        for (int i = 0; i < SIZE; ++i)
            e.value[i] = TYPE(vm_.arg(depth_ + SIZE - 1 - i));  // bytes keep their low 8 bits
        depth_ += SIZE;
        return e;
    }
    OVector vector() { return OVector::ofHolder(vm_.heap(), Addr(vm_.arg(depth_++)), kBytes); }
    // A cell for a result, checked before anything is allocated.
    Addr out()
    {
        Addr cell = nullCheck(Addr(vm_.arg(depth_++)));
        vm_.space().check(cell, 4);
        return cell;
    }

    void done() { vm_.pop(depth_); }
    // Pushes the SIZE words of the element at a (bytes sign-extended).
    void pushElement(Addr a)
    {
        const uint8_t* p = vm_.space().raw(a);
        for (int i = 0; i < SIZE; ++i) {
            TYPE t;
            std::memcpy(&t, p + i * sizeof(TYPE), sizeof(TYPE));
            vm_.push(Word(t));
        }
    }

private:
    VirtualMachine& vm_;
    int depth_ = 0;
};

void copyElements(OVector& to, int at, const OVector& from, int first, int n)
{
    if (n > 0)
        std::memcpy(to.data() + size_t(at) * to.elementSize(), from.data() + size_t(first) * from.elementSize(),
                    size_t(n) * from.elementSize());
}

void checkInsertIndex(int32_t index, const OVector& v)
{
    if (uint32_t(index) > uint32_t(v.count())) [[unlikely]]
        raiseVmError(KErrIndexOutOfBounds);
}

}  // namespace

template <typename TYPE, int SIZE>
void VirtualMachine::vectorNative(int function, bool bPrimitive)
{
    using Call = VectorCall<TYPE, SIZE>;
    constexpr uint32_t B = Call::kBytes;
    Call c(*this);
    VMHeap& heap = *heap_;
    switch (function) {
    case 2: {  // O, V: a copy of V
        OVector v = c.vector();
        Addr o = c.out();
        OVector r = OVector::createRecord(heap, B, v.count());
        copyElements(r, 0, v, 0, v.count());
        r.storeInto(o);
        c.done();
        return;
    }
    case 3: {  // O, E, I: I copies of E
        int32_t n = c.integer();
        auto e = c.element();
        Addr o = c.out();
        if (n < 0)
            raiseVmError(KErrInvalidArgument);
        OVector r = OVector::createRecord(heap, B, n);
        for (int i = 0; i < n; ++i)
            std::memcpy(r.data() + size_t(i) * B, &e, B);
        r.storeInto(o);
        c.done();
        return;
    }
    case 4:
        return;
    case 5: {  // O, V, I: every I-th element from index 0
        int32_t step = c.integer();
        OVector v = c.vector();
        Addr o = c.out();
        if (step <= 0)
            raiseVmError(KErrInvalidArgument);
        int n = v.count();
        int m = n / step + (n % step > 0 ? 1 : 0);
        OVector r = OVector::createRecord(heap, B, m);
        for (int i = 0; i < m; ++i)
            copyElements(r, i, v, int(int64_t(i) * step), 1);
        r.storeInto(o);
        c.done();
        return;
    }
    case 6: {  // V, I: element address (references: the element) replaces V
        int32_t i = c.integer();
        Addr a = c.vector().elementAddress(i);
        c.done();
        push(bPrimitive ? Word(a) : space_.rawWord(a));
        return;
    }
    case 7: {  // V, I: element address replaces V (reference vectors only)
        if (bPrimitive)
            unknownNativeFunction("Vector:");
        int32_t i = c.integer();
        Addr a = c.vector().elementAddress(i);
        c.done();
        push(Word(a));
        return;
    }
    case 8: {  // V, I: the element replaces I, V stays (references: replaces V too)
        int32_t i = c.integer();
        Addr a = c.vector().elementAddress(i);
        pop(bPrimitive ? 1 : 2);
        c.pushElement(a);
        return;
    }
    case 9:
    case 10: {  // V: first / last element replaces V
        OVector v = c.vector();
        Addr a = v.elementAddress(function == 9 ? 0 : v.count() - 1);
        c.done();
        c.pushElement(a);
        return;
    }
    case 11:
    case 12: {  // V: count / emptiness replaces V
        OVector v = c.vector();
        c.done();
        push(function == 11 ? v.count() : v.isEmpty() ? 1 : 0);
        return;
    }
    case 13: {  // V, W, I: W inserted at I
        int32_t i = c.integer();
        OVector w = c.vector();
        OVector v = c.vector();
        checkInsertIndex(i, v);
        v.insert(i, w.data(), w.count());
        c.done();
        return;
    }
    case 14: {  // V, W, R, I: W's part inserted at I
        int32_t i = c.integer();
        RangeOperand r = c.range();
        OVector w = c.vector();
        OVector v = c.vector();
        Part p = partOf(r, w.count());
        if (p.valid) {
            checkInsertIndex(i, v);
            v.insert(i, w.data() + size_t(p.first) * B, p.count);
        }
        c.done();
        return;
    }
    case 15: {  // V, E, I: E inserted at I
        int32_t i = c.integer();
        auto e = c.element();
        OVector v = c.vector();
        checkInsertIndex(i, v);
        v.insert(i, &e, 1);
        c.done();
        return;
    }
    case 16:
    case 18: {  // V, W: W inserted at the front / appended
        OVector w = c.vector();
        OVector v = c.vector();
        v.insert(function == 16 ? 0 : v.count(), w.data(), w.count());
        c.done();
        return;
    }
    case 17: {  // V, E: E inserted at the front
        auto e = c.element();
        OVector v = c.vector();
        v.insert(0, &e, 1);
        c.done();
        return;
    }
    case 19: {  // V, E: E appended
        auto e = c.element();
        OVector v = c.vector();
        v.template appendOne<B>(&e);
        c.done();
        return;
    }
    case 20: {  // V, I: V repeated I times
        int32_t n = c.integer();
        OVector v = c.vector();
        if (n < 0)
            raiseVmError(KErrInvalidArgument);
        v.repeat(n);
        c.done();
        return;
    }
    case 21: {  // V, I: element I removed
        int32_t i = c.integer();
        OVector v = c.vector();
        if (uint32_t(i) >= uint32_t(v.count()))
            raiseVmError(KErrIndexOutOfBounds);
        v.remove(i, 1);
        c.done();
        return;
    }
    case 22: {  // V, R: the part removed
        RangeOperand r = c.range();
        OVector v = c.vector();
        Part p = partOf(r, v.count());
        if (!p.valid)
            raiseVmError(KErrRange);
        v.remove(p.first, p.count);
        c.done();
        return;
    }
    case 23:
    case 24: {  // V, I: the first / last I elements removed
        int32_t n = c.integer();
        OVector v = c.vector();
        if (n < 0 || n > v.count())
            raiseVmError(KErrInvalidArgument);
        v.remove(function == 23 ? 0 : v.count() - n, n);
        c.done();
        return;
    }
    case 25: {  // V: emptied
        c.vector().clear();
        c.done();
        return;
    }
    case 26: {  // V, R, W: the part replaced by W; an empty W removes it
        OVector w = c.vector();
        RangeOperand r = c.range();
        OVector v = c.vector();
        Part p = partOf(r, v.count());
        if (w.isEmpty() && !p.valid)
            raiseVmError(KErrRange);
        if (p.valid)
            v.splice(p.first, p.count, w.data(), w.count());
        c.done();
        return;
    }
    case 27: {  // V, R, E: the part replaced by E
        auto e = c.element();
        RangeOperand r = c.range();
        OVector v = c.vector();
        Part p = partOf(r, v.count());
        if (p.valid)
            v.splice(p.first, p.count, &e, 1);
        c.done();
        return;
    }
    case 28: {  // O, V, R: a new vector of the part
        RangeOperand r = c.range();
        OVector v = c.vector();
        Addr o = c.out();
        Part p = partOf(r, v.count());
        OVector n = OVector::createRecord(heap, B, p.count);
        copyElements(n, 0, v, p.first, p.count);
        n.storeInto(o);
        c.done();
        return;
    }
    case 29: {  // O, E: a new vector holding E
        auto e = c.element();
        Addr o = c.out();
        OVector n = OVector::createRecord(heap, B, 1);
        std::memcpy(n.data(), &e, B);
        n.storeInto(o);
        c.done();
        return;
    }
    case 81: {  // V, R, W: R checked against 0..count; replaced by W, or W inserted at R's start
        OVector w = c.vector();
        RangeOperand r = c.range();
        OVector v = c.vector();
        ResolvedRange rr = resolveRange(0, v.count(), r.start, r.length);
        if (rr.length != 0) {
            v.splice(rr.first, rr.length, w.data(), w.count());
        } else {
            checkInsertIndex(rr.first, v);
            v.insert(rr.first, w.data(), w.count());
        }
        c.done();
        return;
    }
    case 82: {  // V, R: R checked as in 81; the part, in a new box, replaces V
        RangeOperand r = c.range();
        OVector v = c.vector();
        ResolvedRange rr = resolveRange(0, v.count(), r.start, r.length);
        int n = rr.length > 0 ? rr.length : 0;
        OVector part = OVector::create(heap, B, n, !bPrimitive);
        copyElements(part, 0, v, rr.first, n);
        Word box = wrap(1, Word(part.holder()), GC_CODE_REFERENCE);
        c.done();
        push(box);
        return;
    }
    case 83: {  // V, Rv, W, Rw: V's part replaced by W's part, or W's part inserted at Rv's start
        RangeOperand rw = c.range();
        OVector w = c.vector();
        RangeOperand rv = c.range();
        OVector v = c.vector();
        Part pw = partOf(rw, w.count(), true);
        if (pw.valid) {
            const uint8_t* src = w.data() + size_t(pw.first) * B;
            if (rv.length != 0) {
                Part pv = partOf(rv, v.count(), true);
                if (pv.valid)
                    v.splice(pv.first, pv.count, src, pw.count);
            } else {
                checkInsertIndex(rv.start, v);
                v.insert(rv.start, src, pw.count);
            }
        }
        c.done();
        return;
    }
    case 84: {  // Y, Ra, X, Rb: X's part over Ra then Y's part over Rb, in a new box, replaces Y
        RangeOperand rb = c.range();
        OVector x = c.vector();
        RangeOperand ra = c.range();
        OVector y = c.vector();
        Part pa = partOf(ra, x.count(), true);
        Part pb = partOf(rb, y.count(), true);
        OVector::requireFits(uint64_t(pa.count) + uint64_t(pb.count), B);
        OVector n = OVector::create(heap, B, pa.count + pb.count, !bPrimitive);
        copyElements(n, 0, x, pa.first, pa.count);
        copyElements(n, pa.count, y, pb.first, pb.count);
        Word box = wrap(1, Word(n.holder()), GC_CODE_REFERENCE);
        c.done();
        push(box);
        return;
    }
    default:  // 1 and every unknown code
        unknownNativeFunction("Vector:");
    }
}

void VirtualMachine::vectorNativeByte(int function)
{
    vectorNative<signed char, 1>(function, true);
}

void VirtualMachine::vectorNativeInt1(int function)
{
    vectorNative<int, 1>(function, true);
}

void VirtualMachine::vectorNativeInt2(int function)
{
    vectorNative<int, 2>(function, true);
}

void VirtualMachine::vectorNativeInt3(int function)
{
    vectorNative<int, 3>(function, true);
}

void VirtualMachine::vectorNativeInt4(int function)
{
    vectorNative<int, 4>(function, true);
}

void VirtualMachine::vectorNativeObject(int function)
{
    vectorNative<int, 1>(function, false);
}

}  // namespace vm
