// Differential test of the String native group: thousands of random
// operations on random strings (mixed case, surrogate halves, whitespace,
// empty texts, shared buffers, a string used as its own operand) against a
// small reference model over std::u16string written from the operations'
// definitions.
#include "StringNativeFixture.h"

#include "Containers/OVector.h"

#include <QChar>

#include <random>

using namespace vm;

namespace {

using U = std::u16string;
using Words = std::vector<Word>;
using Pair = std::pair<int, std::string>;

struct ModelError {
    int code;
};
[[noreturn]] void fail(int code)
{
    throw ModelError{code};
}

char16_t low(char16_t c)
{
    char32_t l = QChar::toLower(char32_t(c));
    return l > 0xFFFF ? c : char16_t(l);
}
char16_t up(char16_t c)
{
    char32_t u = QChar::toUpper(char32_t(c));
    return u > 0xFFFF ? c : char16_t(u);
}
bool space(char16_t c)
{
    return QChar::isSpace(char32_t(c));
}
bool same(char16_t a, char16_t b, bool exact)
{
    return exact ? a == b : low(a) == low(b);
}

// Units start..end of a text; empty when end < start.
struct Span {
    int start, end;
    int size() const { return end < start ? 0 : end - start + 1; }
};

Span resolve(const U& s, int start, int length, bool allowEmpty)
{
    if (start < 0)
        fail(5);
    const long long n = (long long)s.size();
    const long long end = length < 0 ? n - 1 : (long long)start + length - 1;
    if (start <= end && end < n)
        return {start, int(end)};
    if (allowEmpty && start == 0 && end == -1)
        return {0, -1};
    fail(5);
}

bool matchAt(const U& s, int i, const U& p, bool exact)
{
    for (size_t j = 0; j < p.size(); ++j)
        if (!same(s[size_t(i) + j], p[j], exact))
            return false;
    return true;
}

// Start indices of the non-overlapping occurrences, left to right.
std::vector<int> occurrences(const U& s, const U& p, Span sp, bool exact)
{
    std::vector<int> at;
    if (p.empty())
        return at;
    const int m = int(p.size());
    for (int i = sp.start; i + m - 1 <= sp.end;) {
        if (matchAt(s, i, p, exact)) {
            at.push_back(i);
            i += m;
        } else {
            ++i;
        }
    }
    return at;
}

int lastOccurrence(const U& s, const U& p, Span sp, bool exact)
{
    if (p.empty())
        return -1;
    for (int i = sp.end - int(p.size()) + 1; i >= sp.start; --i)
        if (matchAt(s, i, p, exact))
            return i;
    return -1;
}

enum Which { First, Last, All };

// s with the chosen occurrences of p within sp replaced by by.
U replaced(const U& s, const U& p, Span sp, const U& by, bool exact, Which which)
{
    std::vector<int> at;
    if (which == Last) {
        int i = lastOccurrence(s, p, sp, exact);
        if (i >= 0)
            at.push_back(i);
    } else {
        at = occurrences(s, p, sp, exact);
        if (which == First && at.size() > 1)
            at.resize(1);
    }
    U out;
    size_t cursor = 0;
    for (int i : at) {
        out += s.substr(cursor, size_t(i) - cursor) + by;
        cursor = size_t(i) + p.size();
    }
    return out + s.substr(cursor);
}

int compare(const U& a, const U& b, bool exact)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        char16_t x = exact ? a[i] : low(a[i]), y = exact ? b[i] : low(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

U sub(const U& s, Span sp)
{
    return s.substr(size_t(sp.start), size_t(sp.size()));
}

// Replaces span sp by t; an empty t removes the part, for which the empty
// range is invalid.
void replaceRange(U& s, int start, int length, const U& t)
{
    Span sp = resolve(s, start, length, !t.empty());
    if (sp.size() > 0)
        s = s.substr(0, size_t(sp.start)) + t + s.substr(size_t(sp.end) + 1);
}

void insertAt(U& s, int index, const U& t)
{
    if (t.empty())
        return;
    if (index < 0 || index > int(s.size()))
        fail(2);
    s.insert(size_t(index), t);
}

U trimmed(const U& s)
{
    size_t first = 0, last = s.size();
    while (first < last && space(s[first]))
        ++first;
    while (last > first && space(s[last - 1]))
        --last;
    U out;
    for (size_t i = first; i < last; ++i)
        if (!(space(s[i]) && i > first && space(s[i - 1])))
            out.push_back(s[i]);
    return out;
}

// One operand as both sides see it.
struct Operand {
    char kind;     // S T C I R B (as in the signatures below)
    int pool = -1; // S, T: index into the pool, -1 for a fresh text
    U text;
    Word a = 0, b = 0;  // C, I, B: a; R: start a, length b
};

// Operand kinds of a code: S the string operated on, T another string, C a
// character, I an integer, R a range (two words), B a case switch. Results:
// v one word, r a range, n a new string, w a new vector of new strings, e
// none (S is edited).
struct Signature {
    std::string operands;
    char result;
};

Signature signatureOf(int code)
{
    auto shape = [](int offset, bool replacement) {
        std::string s = "ST";
        if (replacement) {
            if (offset & 4)
                s += "R";
            s += offset & 2 ? "C" : "T";
            if (offset & 1)
                s += "B";
        } else {
            if (offset & 4)
                s[1] = 'C';
            if (offset & 1)
                s += "R";
            if (offset & 2)
                s += "B";
        }
        return s;
    };
    if (code == 16)
        return {"ST", 'r'};
    if ((code >= 17 && code <= 31) || (code >= 36 && code <= 43))
        return {shape(code < 24 ? code - 16 : code < 32 ? code - 24 : code - 36, false), 'v'};
    if (code >= 95 && code <= 118)
        return {shape((code - 95) % 8, false), 'e'};
    if (code >= 69 && code <= 92)
        return {shape((code - 69) % 8, true), 'e'};
    switch (code) {
    case 32: return {"S", 'v'};
    case 33: return {"SR", 'v'};
    case 34: return {"SB", 'v'};
    case 35: return {"SRB", 'v'};
    case 44: case 46: return {"ST", 'v'};
    case 45: case 47: return {"STB", 'v'};
    case 48: return {"ST", 'n'};
    case 50: return {"ST", 'w'};
    case 51: return {"STB", 'w'};
    case 52: return {"SC", 'w'};
    case 53: return {"SCB", 'w'};
    case 49: return {"SI", 'n'};
    case 57: return {"STI", 'e'};
    case 58: return {"SCI", 'e'};
    case 59: return {"STRI", 'e'};
    case 60: case 62: case 64: return {"ST", 'e'};
    case 61: case 63: case 65: return {"SC", 'e'};
    case 66: case 93: case 120: case 122: return {"SI", 'e'};
    case 67: case 152: return {"SRT", 'e'};
    case 68: return {"SRC", 'e'};
    case 94: return {"SR", 'e'};
    case 119: case 121: case 123: case 124: case 125: case 126: case 127: case 128: return {"S", 'e'};
    case 138: case 147: return {"STB", 'v'};
    case 139: case 149: return {"STRB", 'v'};
    case 140: case 141: case 142: case 143: case 144: case 145: case 146: return {"ST", 'v'};
    case 148: return {"STR", 'v'};
    case 150: return {"SR", 'n'};
    case 154: return {"SRTR", 'e'};
    case 155: case 157: return {"SRT", 'v'};
    case 156: case 158: return {"SRTB", 'v'};
    case 159: return {"SRTT", 'e'};
    case 160: return {"SRTTB", 'e'};
    }
    return {"", 'e'};
}

struct Outcome {
    int error = 0;
    Words words;
    U text;                    // a new string's text
    std::vector<U> pieces;     // a new vector's strings
};

// The model: applies code to the operands; S (ops[0].text) is edited in place.
Outcome model(int code, std::vector<Operand>& ops)
{
    Outcome out;
    U& s = ops[0].text;
    const Signature sig = signatureOf(code);
    auto find = [&](char kind, int nth = 0) -> const Operand& {
        for (const Operand& o : ops)
            if (o.kind == kind && nth-- == 0)
                return o;
        ADD_FAILURE() << "no operand " << kind << " for code " << code;
        return ops[0];
    };
    auto has = [&](char kind) { return sig.operands.find(kind) != std::string::npos; };
    auto value = [&](Word w) { out.words = {w}; };
    const bool exact = has('B') && find('B').a != 0;
    auto whole = [&](const U& t) { return resolve(t, 0, -1, true); };
    auto range = [&](const U& t, int nth = 0) {
        const Operand& r = find('R', nth);
        return resolve(t, r.a, r.b, true);
    };
    try {
        if ((code >= 16 && code <= 31) || (code >= 36 && code <= 43) || (code >= 95 && code <= 118)) {
            const U p = has('C') ? U(1, char16_t(find('C').a)) : find('T').text;
            const Span sp = has('R') ? range(s) : whole(s);
            const std::vector<int> at = occurrences(s, p, sp, exact);
            if (code == 16) {
                out.words = at.empty() ? Words{0, 0} : Words{at[0], Word(p.size())};
            } else if (code < 24) {
                value(at.empty() ? -1 : at[0]);
            } else if (code < 32) {
                value(lastOccurrence(s, p, sp, exact));
            } else if (code < 44) {
                value(Word(at.size()));
            } else {
                s = replaced(s, p, sp, U(), exact, code < 103 ? First : code < 111 ? Last : All);
            }
        } else if (code >= 69 && code <= 92) {
            const U& p = find('T').text;
            const U by = has('C') ? U(1, char16_t(find('C').a)) : find('T', 1).text;
            const Span sp = has('R') ? range(s) : whole(s);
            s = replaced(s, p, sp, by, exact, code < 77 ? First : code < 85 ? Last : All);
        } else {
            switch (code) {
            case 32: case 33: case 34: case 35: {
                if (s.empty())
                    fail(4);
                const Span sp = has('R') ? range(s) : whole(s);
                if (sp.size() == 0)
                    fail(4);
                int best = sp.start, bestCount = 0;
                for (int p = sp.start; p <= sp.end; ++p) {
                    int c = int(occurrences(s, U(1, s[size_t(p)]), sp, exact).size());
                    if (c > bestCount) {
                        best = p;
                        bestCount = c;
                    }
                }
                value(exact ? s[size_t(best)] : low(s[size_t(best)]));
                break;
            }
            case 44: case 45: case 46: case 47: {
                const U& t = find('T').text;
                bool r = false;
                if (!s.empty() && !t.empty() && t.size() <= s.size())
                    r = compare(code < 46 ? s.substr(0, t.size()) : s.substr(s.size() - t.size()), t, exact) == 0;
                value(r ? 1 : 0);
                break;
            }
            case 48: out.text = s + find('T').text; break;
            case 50: case 51: case 52: case 53: {
                const U sep = has('C') ? U(1, char16_t(find('C').a)) : find('T').text;
                if (sep.empty()) {
                    if (!s.empty())
                        fail(6);
                    break;
                }
                const std::vector<int> at = occurrences(s, sep, whole(s), exact);
                int from = 0;
                for (int i : at) {
                    if (i > from)
                        out.pieces.push_back(s.substr(size_t(from), size_t(i - from)));
                    from = i + int(sep.size());
                }
                if (!at.empty() && from < int(s.size()))
                    out.pieces.push_back(s.substr(size_t(from)));
                break;
            }
            case 49: {
                const int k = find('I').a;
                if (k < 0)
                    fail(6);
                for (int i = 0; i < k; ++i)
                    out.text += s;
                break;
            }
            case 57: insertAt(s, find('I').a, find('T').text); break;
            case 58: {
                const int i = find('I').a;
                if (i < 0 || i > int(s.size()))
                    fail(2);
                s.insert(size_t(i), 1, char16_t(find('C').a));
                break;
            }
            case 59: {
                const U& t = find('T').text;
                insertAt(s, find('I').a, sub(t, range(t)));
                break;
            }
            case 60: insertAt(s, 0, find('T').text); break;
            case 61: s.insert(s.begin(), char16_t(find('C').a)); break;
            case 62: case 64: s += find('T').text; break;
            case 63: case 65: s += char16_t(find('C').a); break;
            case 66: {
                const int k = find('I').a;
                if (k < 0)
                    fail(6);
                U r;
                for (int i = 0; i < k; ++i)
                    r += s;
                s = r;
                break;
            }
            case 67: replaceRange(s, find('R').a, find('R').b, find('T').text); break;
            case 68: replaceRange(s, find('R').a, find('R').b, U(1, char16_t(find('C').a))); break;
            case 93: {
                const int i = find('I').a;
                if (i < 0 || i >= int(s.size()))
                    fail(2);
                s.erase(size_t(i), 1);
                break;
            }
            case 94: replaceRange(s, find('R').a, find('R').b, U()); break;
            case 119: case 120: case 121: case 122: {
                const int k = code == 119 || code == 121 ? 1 : find('I').a;
                if (k < 0 || k > int(s.size()))
                    fail(6);
                s = code < 121 ? s.substr(size_t(k)) : s.substr(0, s.size() - size_t(k));
                break;
            }
            case 123: s.clear(); break;
            case 124: {
                size_t i = 0;
                while (i < s.size() && space(s[i]))
                    ++i;
                s.erase(0, i);
                break;
            }
            case 125:
                while (!s.empty() && space(s.back()))
                    s.pop_back();
                break;
            case 126: s = trimmed(s); break;
            case 127: for (char16_t& c : s) c = low(c); break;
            case 128: for (char16_t& c : s) c = up(c); break;
            case 138: value(compare(s, find('T').text, exact)); break;
            case 139: {
                const U& t = find('T').text;
                const Operand& r = find('R');
                if (r.a == 0 && r.b < 0)
                    value(compare(s, t, exact));
                else
                    value(compare(sub(s, range(s)), t, exact));
                break;
            }
            case 140: case 141: case 142: case 143: case 144: case 145: {
                const int c = compare(s, find('T').text, true);
                const bool r[] = {c == 0, c != 0, c < 0, c <= 0, c > 0, c >= 0};
                value(r[code - 140] ? 1 : 0);
                break;
            }
            case 146: value(compare(s, find('T').text, false) == 0 ? 1 : 0); break;
            case 147: value(compare(s, find('T').text, exact) == 0 ? 1 : 0); break;
            case 148: case 149: {
                const U& t = find('T').text;
                const Operand& r = find('R');
                if (r.a == 0 && r.b < 0) {
                    value(compare(s, t, exact) == 0 ? 1 : 0);
                    break;
                }
                if (t.empty())
                    fail(6);
                value(compare(sub(s, range(s)), t, exact) == 0 ? 1 : 0);
                break;
            }
            case 150: {
                const Operand& r = find('R');
                if (r.a >= 0 && r.b < 0 && r.a >= int(s.size()))
                    out.text.clear();
                else
                    out.text = sub(s, range(s));
                break;
            }
            case 152: case 154: {
                const Operand& r = find('R', code == 152 ? 0 : 1);
                const U& t = find('T').text;
                if (r.b != 0) {
                    replaceRange(s, r.a, r.b, t);
                    break;
                }
                if (r.a < 0)
                    fail(5);
                if (code == 152) {
                    insertAt(s, r.a, t);
                    break;
                }
                const Operand& part = find('R');  // first index a, last index b of T
                if (part.a == 0 && part.b == -1)
                    break;
                if (part.a < 0 || part.b < part.a || part.b >= int(t.size()))
                    fail(5);
                if (r.a > int(s.size()))
                    fail(2);
                s.insert(size_t(r.a), t.substr(size_t(part.a), size_t(part.b - part.a + 1)));
                break;
            }
            case 155: case 156: case 157: case 158: {
                const Span sp = range(s);
                const U& t = find('T').text;
                const std::vector<int> at = occurrences(s, t, sp, exact);
                value(code < 157 ? (at.empty() ? -1 : at[0]) : lastOccurrence(s, t, sp, exact));
                break;
            }
            case 159: case 160: s = replaced(s, find('T').text, range(s), find('T', 1).text, exact, All); break;
            default: ADD_FAILURE() << "no model for code " << code;
            }
        }
    } catch (const ModelError& e) {
        out.error = e.code;
    }
    return out;
}

struct VmStringModel : StringNativeFixture {
    std::mt19937 rng{20240521};
    struct Entry {
        Word ref;
        U text;
    };
    std::vector<Entry> pool;

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    char16_t unit()
    {
        static const char16_t kUnits[] = {u'a', u'A', u'b', u'B', u'c', u' ', u'\t', 0xE9, 0xC9, 0xDF, 0xD83D, 0xDE00};
        return kUnits[uniform(0, int(std::size(kUnits)) - 1)];
    }
    U randomText(int maxLength)
    {
        U t;
        for (int n = uniform(0, maxLength); n > 0; --n)
            t.push_back(unit());
        return t;
    }
};

}  // namespace

TEST_F(VmStringModel, RandomOperationsAgreeWithTheModel)
{
    std::vector<int> codes;
    for (int c = 16; c <= 160; ++c)
        if (!signatureOf(c).operands.empty())
            codes.push_back(c);
    ASSERT_EQ(codes.size(), 131u);
    for (int i = 0; i < 6; ++i)
        pool.push_back({str(randomText(8)), {}}), pool.back().text = text(pool.back().ref);

    for (int step = 0; step < 6000; ++step) {
        // Now and then a pool entry becomes a copy sharing another's buffer,
        // or a fresh text (which also keeps lengths small).
        const int k = uniform(0, int(pool.size()) - 1);
        if (uniform(0, 9) == 0 || pool[size_t(k)].text.size() > 40) {
            const int from = uniform(0, int(pool.size()) - 1);
            vm.heap().removeRoot(Addr(pool[size_t(k)].ref));
            if (uniform(0, 1)) {
                Word o = box();
                call(2, {o, pool[size_t(from)].ref});
                pool[size_t(k)] = {o, pool[size_t(from)].text};
            } else {
                U t = randomText(8);
                pool[size_t(k)] = {str(t), t};
            }
        }

        const int code = codes[size_t(uniform(0, int(codes.size()) - 1))];
        const Signature sig = signatureOf(code);
        std::vector<Operand> ops;
        Words words;
        const int subject = uniform(0, int(pool.size()) - 1);
        const int n = int(pool[size_t(subject)].text.size());
        for (char kind : sig.operands) {
            Operand o;
            o.kind = kind;
            switch (kind) {
            case 'S':
                o.pool = subject;
                o.text = pool[size_t(subject)].text;
                words.push_back(pool[size_t(subject)].ref);
                break;
            case 'T':
                if (uniform(0, 3) == 0) {  // possibly S itself
                    o.pool = uniform(0, int(pool.size()) - 1);
                    o.text = pool[size_t(o.pool)].text;
                    words.push_back(pool[size_t(o.pool)].ref);
                } else {
                    o.text = randomText(3);
                    words.push_back(str(o.text, false));  // lives on the stack for the call
                }
                break;
            case 'C': o.a = unit(); words.push_back(o.a); break;
            case 'I': o.a = code == 49 || code == 66 ? uniform(-1, 3) : uniform(-1, n + 2); words.push_back(o.a); break;
            case 'B': o.a = uniform(0, 1) ? 0 : uniform(1, 3) * (uniform(0, 1) ? 1 : -1); words.push_back(o.a); break;
            case 'R':
                // Mostly valid ranges; one in four anything near the text.
                if (uniform(0, 3) == 0) {
                    o.a = uniform(-1, n + 1);
                    o.b = uniform(-2, n + 1);
                } else {
                    o.a = uniform(0, n);
                    o.b = uniform(0, 2) == 0 ? -1 : uniform(0, n - o.a);
                }
                words.push_back(o.a);
                words.push_back(o.b);
                break;
            }
            ops.push_back(o);
        }

        const Outcome expected = model(code, ops);
        const std::string what = "step " + std::to_string(step) + " code " + std::to_string(code) + " on " +
                                 OString(pool[size_t(subject)].text).toUtf8();
        Pair raised{0, ""};
        Words left;
        raised = errorOf([&] { left = call(code, words); });
        vm.top = 0;
        ASSERT_EQ(raised.first, expected.error) << what << ": " << raised.second;
        if (expected.error == 0) {
            switch (sig.result) {
            case 'v':
            case 'r': ASSERT_EQ(left, expected.words) << what; break;
            case 'n':
                ASSERT_EQ(left.size(), 1u) << what;
                ASSERT_EQ(text(left[0]), expected.text) << what;
                break;
            case 'w': {
                ASSERT_EQ(left.size(), 1u) << what;
                std::vector<U> pieces;
                for (const OString& piece : stringVectorStrings(vm.heap(), Addr(left[0])))
                    pieces.push_back(piece.toU16());
                ASSERT_EQ(pieces, expected.pieces) << what;
                break;
            }
            case 'e': ASSERT_EQ(left, Words{}) << what; pool[size_t(subject)].text = ops[0].text; break;
            }
        }
        // Only S changed, and only as the model says; strings sharing its
        // buffer kept their text.
        for (size_t i = 0; i < pool.size(); ++i) {
            if (pool[i].ref == pool[size_t(subject)].ref)
                pool[i].text = pool[size_t(subject)].text;
            ASSERT_EQ(text(pool[i].ref), pool[i].text) << what << " pool " << i;
        }
    }
}
