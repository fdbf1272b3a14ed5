// The String native group: about 150 operations on bytecode strings.
//
// Operands are the topmost stack words, the last one on top. A string
// operand is a reference to a box whose word names the block owning an
// OString (stringOf: null raises code 1; a box or block that names no string
// raises code 10 "Invalid object"), a character is the low 16 bits of its
// word, a case switch is exact when non-zero, and a range takes two words,
// start then length. Ranges, case rules and errors are those of OString.
//
// Results: a query writes its value into the slot of its first operand (a
// range result into the first two slots) and removes the rest; an edit, or a
// construction into a box operand, removes every operand. A result is
// computed completely on the host side before anything is allocated for it,
// and every heap block made here is reachable from the stack or a box before
// the next allocation.
#include "../Containers/OVector.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

using Range = OString::Range;

// The operands of one call: `words` stack words ending at the top.
class StringCall {
public:
    StringCall(VirtualMachine& vm, int words) : vm_(vm), base_(vm.top - words + 1)
    {
        if (base_ < 0) [[unlikely]]
            vm.stackFault(base_);
    }

    Word word(int k) const { return vm_.stack()[base_ + k]; }
    OString& str(int k) const { return stringOf(vm_.heap(), Addr(word(k))); }
    char16_t ch(int k) const { return char16_t(word(k)); }
    bool exact(int k) const { return word(k) != 0; }
    Range range(int k) const { return Range{word(k), word(k + 1)}; }
    // The box operand at k, null-checked and writable.
    Addr box(int k) const
    {
        Addr b = nullCheck(Addr(word(k)));
        vm_.space().check(b, 4);
        return b;
    }

    // A value in the first operand's slot.
    void result(Word value)
    {
        vm_.stack()[base_] = value;
        vm_.top = base_;
    }
    void result(Range r)
    {
        vm_.stack()[base_] = r.start;
        vm_.stack()[base_ + 1] = r.length;
        vm_.top = base_ + 1;
    }
    // A new string value in the first operand's slot.
    void result(OString&& text) { result(Word(newStringObject(vm_.heap(), text))); }
    // As result(text), the string value wrapped in one more box.
    void boxedResult(OString&& text)
    {
        result(std::move(text));
        vm_.stack()[base_] = vm_.wrap(1, vm_.stack()[base_], GC_CODE_REFERENCE);
    }
    // The box at aBox receives a new string block holding text.
    void into(Addr aBox, OString&& text)
    {
        Addr block = vm_.heap().construct<OString>(kStringObjectSize, GC_CODE_STRING, std::move(text));
        vm_.space().storeWord(aBox, Word(block));
        done();
    }
    // Every operand removed, nothing left.
    void done() { vm_.top = base_ - 1; }

private:
    VirtualMachine& vm_;
    int base_;
};

// The pattern families: base codes; offsets 0..7 select the operand shape
// (bit 0: a range follows the pattern, bit 1: a case switch ends the
// operands, bit 2: the pattern is a character).
enum PatternFamily { EIndexOf = 16, ELastIndexOf = 24, ECount = 36, ERemoveFirst = 95, ERemoveLast = 103,
                     ERemoveAll = 111 };

void patternOperation(VirtualMachine& vm, int family, int offset)
{
    const bool hasRange = offset & 1, hasCase = offset & 2, isChar = offset & 4;
    StringCall c(vm, 2 + (hasRange ? 2 : 0) + (hasCase ? 1 : 0));
    OString& s = c.str(0);
    // The whole text is the range {0, -1}, which resolves to every unit, or
    // to the empty range of an empty text.
    const Range r = hasRange ? c.range(2) : Range{0, -1};
    const bool exact = hasCase && c.exact(hasRange ? 4 : 2);
    auto apply = [&](const auto& p) {
        switch (family) {
        case EIndexOf: c.result(s.indexOf(p, r, exact)); break;
        case ELastIndexOf: c.result(s.lastIndexOf(p, r, exact)); break;
        case ECount: c.result(s.count(p, r, exact)); break;
        case ERemoveFirst: s.removeFirst(p, r, exact); c.done(); break;
        case ERemoveLast: s.removeLast(p, r, exact); c.done(); break;
        case ERemoveAll: s.removeAll(p, r, exact); c.done(); break;
        }
    };
    if (isChar)
        apply(c.ch(1));
    else
        apply(c.str(1));
}

// The replacement families: base codes; offsets 0..7 select the operand shape
// (bit 0: a case switch ends the operands, bit 1: the replacement is a
// character, bit 2: a range follows the pattern).
enum ReplaceFamily { EReplaceFirst = 69, EReplaceLast = 77, EReplaceAll = 85 };

void replaceOperation(VirtualMachine& vm, int family, int offset)
{
    const bool hasCase = offset & 1, isChar = offset & 2, hasRange = offset & 4;
    StringCall c(vm, 3 + (hasRange ? 2 : 0) + (hasCase ? 1 : 0));
    OString& s = c.str(0);
    const OString& pattern = c.str(1);
    const Range r = hasRange ? c.range(2) : Range{0, -1};
    const int by = hasRange ? 4 : 2;
    const bool exact = hasCase && c.exact(by + 1);
    auto apply = [&](const auto& x) {
        switch (family) {
        case EReplaceFirst: s.replaceFirst(pattern, r, x, exact); break;
        case EReplaceLast: s.replaceLast(pattern, r, x, exact); break;
        case EReplaceAll: s.replaceAll(pattern, r, x, exact); break;
        }
    };
    if (isChar)
        apply(c.ch(by));
    else
        apply(c.str(by));
    c.done();
}

// Most frequent character: 32 S; 33 S, R; 34 S, B; 35 S, R, B.
void mostFrequentOperation(VirtualMachine& vm, int code)
{
    const bool hasRange = code & 1, hasCase = code & 2;
    StringCall c(vm, 1 + (hasRange ? 2 : 0) + (hasCase ? 1 : 0));
    const Range r = hasRange ? c.range(1) : Range{0, -1};
    const bool exact = hasCase && c.exact(hasRange ? 3 : 1);
    c.result(Word(c.str(0).mostFrequent(r, exact)));
}

// A new vector of new strings, the parts of s. The vector is complete before
// its holder is published; allocation never collects, so the strings made for
// it need no other root meanwhile.
Addr splitVector(VMHeap& heap, const OString& s, const std::vector<Range>& parts)
{
    OVector v = OVector::create(heap, 4, int(parts.size()), true);
    const std::u16string_view text = s.view();
    for (size_t i = 0; i < parts.size(); ++i) {
        OString piece(text.substr(size_t(parts[i].start), size_t(parts[i].length)));
        heap.space().setRawWord(v.elements() + 4 * Addr(i), Word(newStringObject(heap, std::move(piece))));
    }
    return v.holder();
}

}  // namespace

void VirtualMachine::stringNative(int function)
{
    const int code = function & 0xFF;  // codes from 128 on arrive as negative bytes
    if ((code >= 17 && code <= 31) || (code >= 36 && code <= 43)) {
        const int family = code < 24 ? EIndexOf : code < 32 ? ELastIndexOf : ECount;
        patternOperation(*this, family, code - family);
        return;
    }
    if (code >= 95 && code <= 118) {
        const int family = code < 103 ? ERemoveFirst : code < 111 ? ERemoveLast : ERemoveAll;
        patternOperation(*this, family, code - family);
        return;
    }
    if (code >= 69 && code <= 92) {
        const int family = code < 77 ? EReplaceFirst : code < 85 ? EReplaceLast : EReplaceAll;
        replaceOperation(*this, family, code - family);
        return;
    }
    if (code >= 32 && code <= 35) {
        mostFrequentOperation(*this, code);
        return;
    }
    switch (code) {
    // Construction into a box.
    case 1: {
        StringCall c(*this, 1);
        c.into(c.box(0), OString());
        break;
    }
    case 2:
    case 4: {
        StringCall c(*this, 2);
        Addr b = c.box(0);
        c.into(b, OString(c.str(1)));
        break;
    }
    case 5: {
        StringCall c(*this, 3);
        Addr b = c.box(0);
        c.into(b, OString::filled(c.ch(1), c.word(2)));
        break;
    }
    case 7: {
        StringCall c(*this, 4);
        Addr b = c.box(0);
        c.into(b, c.str(1).substring(c.range(2)));
        break;
    }
    case 8: {
        StringCall c(*this, 3);
        Addr b = c.box(0);
        c.into(b, c.str(1).everyNth(c.word(2)));
        break;
    }
    case 9: {
        StringCall c(*this, 5);
        Addr b = c.box(0);
        c.into(b, c.str(1).everyNth(c.range(2), c.word(4)));
        break;
    }

    // Queries.
    case 10: {
        StringCall c(*this, 1);
        c.result(c.str(0).length());
        break;
    }
    case 11: {
        StringCall c(*this, 1);
        c.result(c.str(0).isEmpty() ? 1 : 0);
        break;
    }
    case 12: {
        StringCall c(*this, 2);
        c.result(Word(c.str(0).unitAddress(c.word(1))));
        break;
    }
    case 14: {
        StringCall c(*this, 1);
        c.result(Word(c.str(0).first()));
        break;
    }
    case 15: {
        StringCall c(*this, 1);
        c.result(Word(c.str(0).last()));
        break;
    }
    case 16: {
        StringCall c(*this, 2);
        c.result(c.str(0).findRange(c.str(1)));
        break;
    }
    case 44:
    case 45:
    case 46:
    case 47: {
        const bool hasCase = code & 1;
        StringCall c(*this, hasCase ? 3 : 2);
        const bool exact = hasCase && c.exact(2);
        const OString& s = c.str(0);
        const OString& t = c.str(1);
        c.result((code < 46 ? s.startsWith(t, exact) : s.endsWith(t, exact)) ? 1 : 0);
        break;
    }

    // New strings.
    case 48: {
        StringCall c(*this, 2);
        c.result(c.str(0).concat(c.str(1)));
        break;
    }
    case 49: {
        StringCall c(*this, 2);
        c.result(c.str(0).repeated(c.word(1)));
        break;
    }
    // Split into a new vector of new strings: 50 S, T; 51 S, T, B; 52 S, Ch;
    // 53 S, Ch, B.
    case 50:
    case 51:
    case 52:
    case 53: {
        const bool hasCase = code & 1;
        StringCall c(*this, hasCase ? 3 : 2);
        const bool exact = hasCase && c.exact(2);
        const OString& s = c.str(0);
        const std::vector<Range> parts = code < 52 ? s.splitRanges(c.str(1), exact) : s.splitRanges(c.ch(1), exact);
        c.result(Word(splitVector(heap(), s, parts)));
        break;
    }

    // Insertion.
    case 57: {
        StringCall c(*this, 3);
        c.str(0).insert(c.word(2), c.str(1));
        c.done();
        break;
    }
    case 58: {
        StringCall c(*this, 3);
        c.str(0).insert(c.word(2), c.ch(1));
        c.done();
        break;
    }
    case 59: {
        StringCall c(*this, 5);
        c.str(0).insert(c.word(4), c.str(1), c.range(2));
        c.done();
        break;
    }
    case 60: {
        StringCall c(*this, 2);
        c.str(0).prepend(c.str(1));
        c.done();
        break;
    }
    case 61: {
        StringCall c(*this, 2);
        c.str(0).prepend(c.ch(1));
        c.done();
        break;
    }
    case 62:
    case 64: {
        StringCall c(*this, 2);
        c.str(0).append(c.str(1));
        c.done();
        break;
    }
    case 63:
    case 65: {
        StringCall c(*this, 2);
        c.str(0).append(c.ch(1));
        c.done();
        break;
    }

    // Other edits.
    case 66: {
        StringCall c(*this, 2);
        c.str(0).repeat(c.word(1));
        c.done();
        break;
    }
    case 67: {
        StringCall c(*this, 4);
        c.str(0).replace(c.range(1), c.str(3));
        c.done();
        break;
    }
    case 68: {
        StringCall c(*this, 4);
        c.str(0).replace(c.range(1), c.ch(3));
        c.done();
        break;
    }
    case 93: {
        StringCall c(*this, 2);
        c.str(0).removeAt(c.word(1));
        c.done();
        break;
    }
    case 94: {
        StringCall c(*this, 3);
        c.str(0).remove(c.range(1));
        c.done();
        break;
    }
    case 119:
    case 121: {
        StringCall c(*this, 1);
        OString& s = c.str(0);
        code == 119 ? s.removeHead(1) : s.removeTail(1);
        c.done();
        break;
    }
    case 120:
    case 122: {
        StringCall c(*this, 2);
        OString& s = c.str(0);
        code == 120 ? s.removeHead(c.word(1)) : s.removeTail(c.word(1));
        c.done();
        break;
    }
    case 123:
    case 124:
    case 125:
    case 126:
    case 127:
    case 128: {
        StringCall c(*this, 1);
        OString& s = c.str(0);
        switch (code) {
        case 123: s.clear(); break;
        case 124: s.trimLeading(); break;
        case 125: s.trimTrailing(); break;
        case 126: s.trim(); break;
        case 127: s.toLowerCase(); break;
        case 128: s.toUpperCase(); break;
        }
        c.done();
        break;
    }

    // Characters and numbers.
    case 129:
    case 130:
    case 131:
    case 132:
    case 133: {
        StringCall c(*this, 1);
        const char16_t ch = c.ch(0);
        switch (code) {
        case 129: c.result(Word(OString::lower(ch))); break;
        case 130: c.result(Word(OString::upper(ch))); break;
        case 131: c.result(OString::isLetter(ch) ? 1 : 0); break;
        case 132: c.result(OString::isDigit(ch) ? 1 : 0); break;
        case 133: c.result(OString::isSpace(ch) ? 1 : 0); break;
        }
        break;
    }
    case 134: {
        StringCall c(*this, 1);
        c.result(OString::number(TInt32(c.word(0))));
        break;
    }
    case 135: {
        StringCall c(*this, 2);
        c.result(OString::number(TUint32(c.word(0)), c.word(1)));
        break;
    }
    case 136: {
        StringCall c(*this, 1);
        c.result(c.str(0).toInt());
        break;
    }
    case 137: {
        StringCall c(*this, 2);
        c.result(c.str(0).toInt(c.word(1)));
        break;
    }

    // Comparison.
    case 138: {
        StringCall c(*this, 3);
        c.result(c.str(0).compare(c.str(1), c.exact(2)));
        break;
    }
    case 139: {
        StringCall c(*this, 5);
        c.result(c.str(0).compareRegion(c.str(1), c.range(2), c.exact(4)));
        break;
    }
    case 140:
    case 141:
    case 142:
    case 143:
    case 144:
    case 145: {
        StringCall c(*this, 2);
        const int sign = c.str(0).compare(c.str(1), true);
        bool r = false;
        switch (code) {
        case 140: r = sign == 0; break;
        case 141: r = sign != 0; break;
        case 142: r = sign < 0; break;
        case 143: r = sign <= 0; break;
        case 144: r = sign > 0; break;
        case 145: r = sign >= 0; break;
        }
        c.result(r ? 1 : 0);
        break;
    }
    case 146: {
        StringCall c(*this, 2);
        c.result(c.str(0).equals(c.str(1), false) ? 1 : 0);
        break;
    }
    case 147: {
        StringCall c(*this, 3);
        c.result(c.str(0).equals(c.str(1), c.exact(2)) ? 1 : 0);
        break;
    }
    case 148:
    case 149: {
        const bool hasCase = code == 149;
        StringCall c(*this, hasCase ? 5 : 4);
        const bool exact = hasCase && c.exact(4);
        c.result(c.str(0).regionEquals(c.str(1), c.range(2), exact) ? 1 : 0);
        break;
    }

    // Ranges of S.
    case 150: {
        StringCall c(*this, 3);
        c.result(c.str(0).substring(c.range(1)));
        break;
    }
    case 151: break;
    case 152: {
        StringCall c(*this, 4);
        c.str(0).replaceOrInsert(c.range(1), c.str(3));
        c.done();
        break;
    }
    case 153: {
        StringCall c(*this, 3);
        c.boxedResult(c.str(0).substring(c.range(1)));
        break;
    }
    case 154: {
        StringCall c(*this, 6);
        c.str(0).replaceOrInsert(c.range(4), c.str(3), c.word(1), c.word(2));
        c.done();
        break;
    }
    case 155:
    case 156:
    case 157:
    case 158: {
        const bool hasCase = !(code & 1);
        StringCall c(*this, hasCase ? 5 : 4);
        const bool exact = hasCase && c.exact(4);
        const OString& s = c.str(0);
        const OString& t = c.str(3);
        const Range r = c.range(1);
        c.result(code < 157 ? s.indexOf(t, r, exact) : s.lastIndexOf(t, r, exact));
        break;
    }
    case 159:
    case 160: {
        const bool hasCase = code == 160;
        StringCall c(*this, hasCase ? 6 : 5);
        const bool exact = hasCase && c.exact(5);
        c.str(0).replaceAll(c.str(3), c.range(1), c.str(4), exact);
        c.done();
        break;
    }

    // 0, 54, 161..255 are unknown; 3, 6, 13, 55, 56 reserved and refused alike.
    default: unknownNativeFunction("String:");
    }
}

}  // namespace vm
