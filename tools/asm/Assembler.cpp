#include "Assembler.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "AsmSyntax.h"
#include "McbFile.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

namespace mcb {

namespace {

std::string located(const std::string& file, int line, const char* kind, const std::string& message)
{
    return file + ":" + (line > 0 ? std::to_string(line) + ":" : std::string()) + " " + kind + ": " + message;
}

}  // namespace

AsmError::AsmError(std::string f, int l, std::string m)
    : std::runtime_error(located(f, l, "error", m)), file(std::move(f)), line(l), message(std::move(m))
{
}

std::string AsmDiagnostic::text() const
{
    return located(file, line, warning ? "warning" : "error", message);
}

bool AsmResult::ok() const
{
    return std::none_of(diagnostics.begin(), diagnostics.end(), [](const AsmDiagnostic& d) { return !d.warning; });
}

std::string AsmResult::report() const
{
    std::string out;
    for (const AsmDiagnostic& d : diagnostics)
        out += d.text() + "\n";
    return out;
}

namespace {

// Edits (insertions, deletions, substitutions, swaps of neighbours) between
// two words, ignoring case.
size_t editDistance(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    std::vector<std::vector<size_t> > d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// "; did you mean 'x'?" for the nearest candidate close enough to the word
// (about one edit in three letters), else nothing.
std::string didYouMean(std::string_view word, const std::vector<std::string>& candidates)
{
    const size_t limit = std::max<size_t>(1, std::min<size_t>(3, word.size() / 3));
    const std::string* best = nullptr;
    size_t bestDistance = limit + 1;
    for (const std::string& c : candidates) {
        size_t d = editDistance(word, c);
        if (d < bestDistance || (d == bestDistance && best && c < *best)) {
            best = &c;
            bestDistance = d;
        }
    }
    return best ? "; did you mean '" + *best + "'?" : std::string();
}

template <typename Map>
std::vector<std::string> keysOf(const Map& map)
{
    std::vector<std::string> keys;
    for (const auto& entry : map)
        keys.push_back(entry.first);
    return keys;
}

struct Token {
    enum Kind { ATOM, STRING, CHAR } kind = ATOM;
    std::string text;    // atom text, or the bytes of a string literal
    int64_t value = 0;   // character literal
    int line = 0;
};

struct SourceLine {
    int number = 0;
    std::vector<Token> tokens;   // never empty
};

// A numeric value with the line it came from, for range errors found late.
struct Num {
    int64_t value = 0;
    int line = 0;
};

// A symbolic name or a raw number in the place of an address or index.
struct Ref {
    bool named = false;
    std::string name;
    int64_t number = 0;
    int line = 0;
};

struct FlaggedNum {
    uint8_t flag = kFlagPlain;
    Num offset;
};

struct ClassDecl {
    std::string name;
    int line = 0;
    std::vector<Num> refs;
    std::vector<FlaggedNum> arrays;
    std::optional<Ref> super;
    std::optional<Num> superFlag;
    std::vector<Ref> skipped;
    int width = 0;   // 0: automatic
};

struct MapDecl {
    std::string name;
    int line = 0;
    std::optional<Num> params, extra, locals;
    std::vector<Num> checked, refs;
    std::vector<FlaggedNum> arrays, inlines;
    int width = 0;
};

struct MethodTarget {
    Ref address;
    std::optional<Ref> map;
    int line = 0;
};

struct StaticDecl {
    std::string name;
    MethodTarget target;
};

struct ImplDecl {
    Ref cls;
    MethodTarget target;
};

struct VirtualDecl {
    std::string name;
    int line = 0;
    std::vector<ImplDecl> impls;
};

struct CodeItem {
    int line = 0;
    uint32_t address = 0;
    bool raw = false;             // .byte
    uint8_t opcode = 0;
    std::vector<Token> operands;  // instruction operands, or the .byte values
};

struct Symbol {
    int32_t value = 0;   // label address or table index
    int line = 0;
};

std::optional<int64_t> parseInteger(std::string_view s)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    int base = 10;
    if (s.size() - i > 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (s.size() - i > 2 && s[i] == '0' && (s[i + 1] == 'b' || s[i + 1] == 'B')) {
        base = 2;
        i += 2;
    }
    if (i >= s.size())
        return std::nullopt;
    uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
        if (d >= base)
            return std::nullopt;
        if (v > (limit - uint64_t(d)) / uint64_t(base))
            return std::nullopt;
        v = v * uint64_t(base) + uint64_t(d);
    }
    if (negative)
        return v == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(v);
    return static_cast<int64_t>(v);
}

bool looksNumeric(const Token& t)
{
    if (t.kind == Token::CHAR)
        return true;
    if (t.kind != Token::ATOM || t.text.empty())
        return false;
    char c = t.text[0];
    return (c >= '0' && c <= '9') || c == '-' || c == '+';
}

std::string describe(const Token& t)
{
    switch (t.kind) {
    case Token::STRING: return quoteBytes(t.text);
    case Token::CHAR: return "character literal";
    default: return "'" + t.text + "'";
    }
}

int32_t wrap32(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

void putLE(std::vector<uint8_t>& out, int64_t v, int bytes)
{
    uint64_t u = static_cast<uint64_t>(v);
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

const char* const kFieldWhat[W_FIELD_COUNT] = {
    "code address",  "stack-map index", "class index",  "superclass flag",      "skipped class count",
    "parameter slots", "extra slots",   "local slots",  "implementation count",
};

class Assembler {
public:
    Assembler(std::string_view source, std::string_view fileName) : src_(source), file_(fileName) {}

    AsmResult run()
    {
        lex();
        for (li_ = 0; li_ < lines_.size(); ++li_) {
            try {
                statement();
            } catch (const AsmError& e) {
                record(e);
                skipContinuationLines();
            }
        }
        resolve();
        AsmResult result;
        if (errors_ == 0) {
            try {
                result.bytes = writeModule(m_);
                entryWarnings();
            } catch (const std::invalid_argument& e) {
                record(AsmError(std::string(file_), 0, e.what()));
                result.bytes.clear();
            }
        }
        // By line, those without one last; at most kMaxErrors errors.
        std::stable_sort(diagnostics_.begin(), diagnostics_.end(), [](const AsmDiagnostic& a, const AsmDiagnostic& b) {
            return (a.line == 0 ? INT32_MAX : a.line) < (b.line == 0 ? INT32_MAX : b.line);
        });
        if (errors_ > kMaxErrors) {
            diagnostics_.resize(kMaxErrors);
            diagnostics_.push_back(AsmDiagnostic{std::string(file_), 0, false,
                                                 "too many errors: " + std::to_string(errors_ - kMaxErrors) +
                                                     " more not shown"});
        }
        result.diagnostics = std::move(diagnostics_);
        return result;
    }

private:
    // ---- errors ------------------------------------------------------------

    [[noreturn]] void fail(int line, const std::string& message) const
    {
        throw AsmError(std::string(file_), line, message);
    }

    void record(const AsmError& e)
    {
        diagnostics_.push_back(AsmDiagnostic{e.file, e.line, false, e.message});
        ++errors_;
    }

    void warn(int line, const std::string& message)
    {
        diagnostics_.push_back(AsmDiagnostic{std::string(file_), line, true, message});
    }

    // Runs one piece of resolution; a mistake in it is recorded and the next
    // piece goes on.
    template <typename F>
    void attempt(F&& piece)
    {
        try {
            piece();
        } catch (const AsmError& e) {
            record(e);
        }
    }

    // After a mistake in a declaration, the lines that would have continued
    // it are part of the same mistake.
    void skipContinuationLines()
    {
        static const char* const kClauses[] = {"refs",  "arrays", "super",   "flag",   "skip", "width",
                                               "params", "extra", "locals", "checked", "inline", "impl"};
        while (li_ + 1 < lines_.size()) {
            const Token& first = lines_[li_ + 1].tokens[0];
            bool clause = false;
            for (const char* c : kClauses)
                clause = clause || (first.kind == Token::ATOM && first.text == c);
            if (!clause)
                return;
            ++li_;
        }
    }

    // ---- lexer -------------------------------------------------------------

    void lex()
    {
        int number = 1;
        size_t i = 0;
        while (i < src_.size()) {
            size_t eol = src_.find('\n', i);
            if (eol == std::string_view::npos)
                eol = src_.size();
            try {
                lexLine(src_.substr(i, eol - i), number);
            } catch (const AsmError& e) {
                record(e);
            }
            i = eol + 1;
            ++number;
        }
    }

    unsigned char escape(std::string_view t, size_t& p, int line) const
    {
        // t[p] is the backslash.
        if (p + 1 >= t.size())
            fail(line, "unfinished escape sequence");
        char c = t[p + 1];
        p += 2;
        switch (c) {
        case 'n': return '\n';
        case 't': return '\t';
        case 'r': return '\r';
        case '0': return 0;
        case '\\': return '\\';
        case '"': return '"';
        case '\'': return '\'';
        case 'x': {
            auto hex = [](char h) {
                return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
            };
            if (p + 1 >= t.size() || hex(t[p]) < 0 || hex(t[p + 1]) < 0)
                fail(line, "'\\x' must be followed by two hex digits");
            unsigned char v = static_cast<unsigned char>(hex(t[p]) * 16 + hex(t[p + 1]));
            p += 2;
            return v;
        }
        default: fail(line, std::string("unknown escape sequence '\\") + c + "'");
        }
    }

    void lexLine(std::string_view t, int line)
    {
        SourceLine out;
        out.number = line;
        size_t p = 0;
        while (p < t.size()) {
            char c = t[p];
            if (c == ' ' || c == '\t' || c == '\r' || c == ',' || c == '\v' || c == '\f') {
                ++p;
                continue;
            }
            if (c == ';')
                break;
            Token tok;
            tok.line = line;
            if (c == '"') {
                tok.kind = Token::STRING;
                ++p;
                for (;;) {
                    if (p >= t.size())
                        fail(line, "unterminated string literal");
                    if (t[p] == '"') {
                        ++p;
                        break;
                    }
                    if (t[p] == '\\')
                        tok.text += static_cast<char>(escape(t, p, line));
                    else
                        tok.text += t[p++];
                }
            } else if (c == '\'') {
                tok.kind = Token::CHAR;
                ++p;
                if (p >= t.size() || t[p] == '\'')
                    fail(line, "empty character literal");
                if (t[p] == '\\') {
                    tok.value = escape(t, p, line);
                } else {
                    size_t n = utf8SequenceLength(t, p);
                    if (n == 0)
                        fail(line, "character literal is not valid UTF-8");
                    unsigned char b0 = static_cast<unsigned char>(t[p]);
                    int64_t cp = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
                    for (size_t k = 1; k < n; ++k)
                        cp = (cp << 6) | (static_cast<unsigned char>(t[p + k]) & 0x3F);
                    tok.value = cp;
                    p += n;
                }
                if (p >= t.size() || t[p] != '\'')
                    fail(line, "character literal must hold exactly one character");
                ++p;
            } else {
                size_t q = p;
                while (q < t.size() && t[q] != ' ' && t[q] != '\t' && t[q] != '\r' && t[q] != ',' && t[q] != ';' &&
                       t[q] != '"' && t[q] != '\'' && t[q] != '\v' && t[q] != '\f')
                    ++q;
                tok.text = std::string(t.substr(p, q - p));
                p = q;
            }
            out.tokens.push_back(std::move(tok));
        }
        if (!out.tokens.empty())
            lines_.push_back(std::move(out));
    }

    // ---- token stream over the current statement ---------------------------

    int curLine() const { return lines_[li_].number; }
    bool more() const { return ti_ < lines_[li_].tokens.size(); }
    const Token& peek() const { return lines_[li_].tokens[ti_]; }
    const Token& next(const char* what)
    {
        if (!more())
            fail(curLine(), std::string("missing ") + what);
        return lines_[li_].tokens[ti_++];
    }
    bool peekAtom(std::string_view text) const { return more() && peek().kind == Token::ATOM && peek().text == text; }
    void endOfStatement(const char* after)
    {
        if (more())
            fail(curLine(), "unexpected " + describe(peek()) + " after " + after);
    }

    // When the statement's line is used up, a following line that starts with
    // one of the keywords continues it.
    bool continueWith(std::initializer_list<std::string_view> keywords)
    {
        if (more() || li_ + 1 >= lines_.size())
            return false;
        const Token& first = lines_[li_ + 1].tokens[0];
        if (first.kind != Token::ATOM)
            return false;
        for (std::string_view k : keywords)
            if (first.text == k) {
                ++li_;
                ti_ = 0;
                return true;
            }
        return false;
    }

    // ---- token interpretation ----------------------------------------------

    int64_t numberOf(const Token& t, const std::string& what) const
    {
        if (t.kind == Token::CHAR)
            return t.value;
        if (!looksNumeric(t))
            fail(t.line, "expected a number for " + what + ", got " + describe(t));
        std::optional<int64_t> v = parseInteger(t.text);
        if (!v)
            fail(t.line, "bad number '" + t.text + "'");
        return *v;
    }

    int64_t ranged(const Token& t, int64_t lo, int64_t hi, const std::string& what) const
    {
        int64_t v = numberOf(t, what);
        if (v < lo || v > hi)
            fail(t.line, "value " + std::to_string(v) + " out of range for " + what + " (" + std::to_string(lo) +
                             ".." + std::to_string(hi) + ")");
        return v;
    }

    // 32-bit fields take signed values and unsigned ones up to 0xFFFFFFFF.
    int32_t word(const Token& t, const std::string& what) const
    {
        return wrap32(ranged(t, INT32_MIN, UINT32_MAX, what));
    }

    Num num32(const Token& t, const std::string& what) const { return Num{word(t, what), t.line}; }

    std::string identifier(const Token& t, const std::string& what, bool isClass = false) const
    {
        if (t.kind != Token::ATOM || !isIdentifier(t.text))
            fail(t.line, "expected " + what + ", got " + describe(t));
        if (isClass && isReservedClassName(t.text))
            fail(t.line, "'" + t.text + "' is a reserved word and cannot name " + what);
        return t.text;
    }

    Ref refOf(const Token& t, const std::string& what, bool isClass = false) const
    {
        Ref r;
        r.line = t.line;
        if (looksNumeric(t)) {
            r.number = word(t, what);
            return r;
        }
        if (t.kind != Token::ATOM || !isIdentifier(t.text) || (isClass && isReservedClassName(t.text)))
            fail(t.line, "expected a " + what + " (name or number), got " + describe(t));
        r.named = true;
        r.name = t.text;
        return r;
    }

    void define(std::map<std::string, Symbol>& table, const std::string& name, int32_t value, int line,
                const char* kind)
    {
        auto [it, fresh] = table.emplace(name, Symbol{value, line});
        if (!fresh)
            fail(line, std::string("duplicate ") + kind + " '" + name + "' (first defined at line " +
                           std::to_string(it->second.line) + ")");
    }

    int32_t lookup(const std::map<std::string, Symbol>& table, const Ref& r, const char* kind) const
    {
        if (!r.named)
            return static_cast<int32_t>(r.number);
        auto it = table.find(r.name);
        if (it == table.end())
            fail(r.line, std::string("undefined ") + kind + " '" + r.name + "'" + didYouMean(r.name, keysOf(table)));
        return it->second.value;
    }

    // ---- statements --------------------------------------------------------

    void statement()
    {
        ti_ = 0;
        bool wasBlock = lastWasBlock_;
        lastWasBlock_ = false;
        while (more() && peek().kind == Token::ATOM && peek().text.size() > 1 && peek().text.back() == ':') {
            const Token& t = next("label");
            Token name = t;
            name.text.pop_back();
            define(labels_, identifier(name, "a label"), static_cast<int32_t>(address_), t.line, "label");
        }
        if (!more())
            return;
        const Token& t = peek();
        if (t.kind != Token::ATOM)
            fail(t.line, "expected a mnemonic or directive, got " + describe(t));
        if (t.text[0] == '.') {
            directive(wasBlock);
            return;
        }
        auto op = mnemonics().find(t.text);
        if (op == mnemonics().end()) {
            static const char* const kClauses[] = {"refs", "arrays", "super", "flag", "skip", "width", "params",
                                                   "extra", "locals", "checked", "inline", "impl"};
            for (const char* c : kClauses)
                if (t.text == c)
                    fail(t.line, "'" + t.text + "' line outside a .class, .map or .virtual declaration");
            fail(t.line, "unknown mnemonic '" + t.text + "'" + didYouMean(t.text, keysOf(mnemonics())));
        }
        ++ti_;
        CodeItem item;
        item.line = t.line;
        item.address = static_cast<uint32_t>(address_);
        item.opcode = op->second;
        while (more())
            item.operands.push_back(lines_[li_].tokens[ti_++]);
        advance(1 + vm::operandLength(item.opcode), item.line);
        code_.push_back(std::move(item));
    }

    static const std::unordered_map<std::string, uint8_t>& mnemonics()
    {
        static const std::unordered_map<std::string, uint8_t> table = [] {
            std::unordered_map<std::string, uint8_t> t;
            for (int op = 0; op < 256; ++op)
                if (vm::isInstruction(static_cast<uint8_t>(op)))
                    t.emplace(vm::kOpcodeInfo[op].mnemonic, static_cast<uint8_t>(op));
            return t;
        }();
        return table;
    }

    void advance(int64_t bytes, int line)
    {
        address_ += bytes;
        if (address_ > INT32_MAX)
            fail(line, "code larger than 2147483647 bytes");
    }

    void directive(bool afterBlock)
    {
        const Token& d = next("directive");
        const std::string& name = d.text;
        if (name == ".module")
            moduleDirective();
        else if (name == ".widths")
            widthsDirective();
        else if (name == ".globals")
            globalsDirective();
        else if (name == ".class")
            classDirective();
        else if (name == ".map")
            mapDirective();
        else if (name == ".string")
            stringDirective();
        else if (name == ".static")
            staticDirective();
        else if (name == ".virtual")
            virtualDirective();
        else if (name == ".byte")
            byteDirective();
        else if (name == ".code")
            endOfStatement(".code");
        else if (name == ".end") {
            if (!afterBlock)
                fail(d.line, "'.end' without a .class, .map or .virtual declaration to close");
            endOfStatement(".end");
        } else
            fail(d.line, "unknown directive '" + name + "'" +
                             didYouMean(name, {".module", ".widths", ".globals", ".class", ".map", ".string", ".static",
                                               ".virtual", ".byte", ".code", ".end"}));
    }

    void moduleDirective()
    {
        int line = curLine();
        if (moduleLine_)
            fail(line, "duplicate .module (first given at line " + std::to_string(moduleLine_) + ")");
        moduleLine_ = line;
        const Token& t = next("module id after .module");
        if (t.kind == Token::STRING) {
            if (t.text.size() > kModuleIdLength)
                fail(line, "module id " + quoteBytes(t.text) + " is " + std::to_string(t.text.size()) +
                               " bytes long (at most 20)");
            std::copy(t.text.begin(), t.text.end(), m_.id.begin());
        } else if (t.kind == Token::ATOM && t.text == "hex") {
            const Token& h = next("40 hex digits after 'hex'");
            auto hex = [](char c) {
                return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            };
            bool ok = h.kind == Token::ATOM && h.text.size() == 2 * kModuleIdLength;
            for (size_t i = 0; ok && i < h.text.size(); ++i)
                ok = hex(h.text[i]) >= 0;
            if (!ok)
                fail(line, "module id in hex must be exactly 40 hex digits, got " + describe(h));
            for (int i = 0; i < kModuleIdLength; ++i)
                m_.id[i] = static_cast<uint8_t>(hex(h.text[2 * i]) * 16 + hex(h.text[2 * i + 1]));
        } else {
            fail(line, "expected a string or 'hex' after .module, got " + describe(t));
        }
        endOfStatement("the module id");
    }

    void widthsDirective()
    {
        if (!more())
            fail(curLine(), "expected width fields after .widths");
        while (more()) {
            const Token& k = next("width field");
            int field = -1;
            for (int f = 0; f < W_FIELD_COUNT; ++f)
                if (k.kind == Token::ATOM && k.text == widthFieldKeyword(WidthField(f)))
                    field = f;
            if (field < 0)
                fail(k.line, "unknown width field " + describe(k) +
                                 " (expected code, map, class, superflag, skipcount, params, extra, locals or impls)");
            if (widthOverride_[field])
                fail(k.line, "width '" + k.text + "' given twice");
            widthOverride_[field] = recordWidth(next("width value"));
        }
    }

    int recordWidth(const Token& t)
    {
        int64_t w = numberOf(t, "a width");
        if (w != 1 && w != 2 && w != 4)
            fail(t.line, "width must be 1, 2 or 4, got " + std::to_string(w));
        return static_cast<int>(w);
    }

    void globalsDirective()
    {
        int line = curLine();
        if (globalsLine_)
            fail(line, "duplicate .globals (first given at line " + std::to_string(globalsLine_) + ")");
        globalsLine_ = line;
        m_.globalWords = word(next("size after .globals"), "the globals size");
        endOfStatement("the globals size");
    }

    std::vector<Num> offsetList(const char* clause)
    {
        std::vector<Num> out;
        while (more() && looksNumeric(peek()))
            out.push_back(num32(next("offset"), std::string("an offset in '") + clause + "'"));
        if (out.empty())
            fail(curLine(), std::string("expected offsets after '") + clause + "'");
        return out;
    }

    std::vector<FlaggedNum> flaggedList(const char* clause)
    {
        std::vector<FlaggedNum> out;
        while (more() && looksNumeric(peek())) {
            FlaggedNum f;
            f.offset = num32(next("offset"), std::string("an offset in '") + clause + "'");
            const Token& k = next("'ref' or 'plain' after the offset");
            if (k.kind == Token::ATOM && k.text == "ref")
                f.flag = kFlagRefs;
            else if (k.kind == Token::ATOM && k.text == "plain")
                f.flag = kFlagPlain;
            else
                fail(k.line, "expected 'ref' or 'plain' after the offset, got " + describe(k));
            out.push_back(f);
        }
        if (out.empty())
            fail(curLine(), std::string("expected offset and 'ref' or 'plain' pairs after '") + clause + "'");
        return out;
    }

    void classDirective()
    {
        ClassDecl c;
        c.line = curLine();
        c.name = identifier(next("class name"), "a class", true);
        define(classNames_, c.name, static_cast<int32_t>(classes_.size()), c.line, "class");
        for (;;) {
            if (!more() && !continueWith({"refs", "arrays", "super", "flag", "skip", "width"}))
                break;
            const Token& k = next("clause");
            const std::string kw = k.kind == Token::ATOM ? k.text : std::string();
            if (kw == "refs") {
                auto v = offsetList("refs");
                c.refs.insert(c.refs.end(), v.begin(), v.end());
            } else if (kw == "arrays") {
                auto v = flaggedList("arrays");
                c.arrays.insert(c.arrays.end(), v.begin(), v.end());
            } else if (kw == "super") {
                if (c.super)
                    fail(k.line, "'super' given twice");
                c.super = refOf(next("superclass"), "superclass", true);
            } else if (kw == "flag") {
                if (c.superFlag)
                    fail(k.line, "'flag' given twice");
                c.superFlag = num32(next("superclass flag value"), "the superclass flag");
                if (c.superFlag->value == 0)
                    fail(k.line, "the superclass flag must be non-zero (omit 'super' for no superclass)");
            } else if (kw == "skip") {
                size_t before = c.skipped.size();
                while (more() && !(peek().kind == Token::ATOM && isReservedClassName(peek().text)))
                    c.skipped.push_back(refOf(next("class"), "skipped class", true));
                if (c.skipped.size() == before)
                    fail(k.line, "expected class names or numbers after 'skip'");
            } else if (kw == "width") {
                if (c.width)
                    fail(k.line, "'width' given twice");
                c.width = recordWidth(next("width value"));
            } else {
                fail(k.line, "unexpected " + describe(k) +
                                 " in .class (expected refs, arrays, super, flag, skip or width)");
            }
        }
        if (c.superFlag && !c.super)
            fail(c.line, "'flag' needs 'super'");
        classes_.push_back(std::move(c));
        lastWasBlock_ = true;
    }

    void mapDirective()
    {
        MapDecl s;
        s.line = curLine();
        s.name = identifier(next("stack-map name"), "a stack map");
        define(mapNames_, s.name, static_cast<int32_t>(maps_.size()), s.line, "stack map");
        for (;;) {
            if (!more() && !continueWith({"params", "extra", "locals", "checked", "arrays", "refs", "inline", "width"}))
                break;
            const Token& k = next("clause");
            const std::string kw = k.kind == Token::ATOM ? k.text : std::string();
            auto single = [&](std::optional<Num>& slot) {
                if (slot)
                    fail(k.line, "'" + kw + "' given twice");
                slot = num32(next("slot count"), "'" + kw + "'");
            };
            if (kw == "params")
                single(s.params);
            else if (kw == "extra")
                single(s.extra);
            else if (kw == "locals")
                single(s.locals);
            else if (kw == "checked") {
                auto v = offsetList("checked");
                s.checked.insert(s.checked.end(), v.begin(), v.end());
            } else if (kw == "refs") {
                auto v = offsetList("refs");
                s.refs.insert(s.refs.end(), v.begin(), v.end());
            } else if (kw == "arrays") {
                auto v = flaggedList("arrays");
                s.arrays.insert(s.arrays.end(), v.begin(), v.end());
            } else if (kw == "inline") {
                auto v = flaggedList("inline");
                s.inlines.insert(s.inlines.end(), v.begin(), v.end());
            } else if (kw == "width") {
                if (s.width)
                    fail(k.line, "'width' given twice");
                s.width = recordWidth(next("width value"));
            } else {
                fail(k.line, "unexpected " + describe(k) +
                                 " in .map (expected params, extra, locals, checked, arrays, refs, inline or width)");
            }
        }
        maps_.push_back(std::move(s));
        lastWasBlock_ = true;
    }

    void stringDirective()
    {
        int line = curLine();
        const Token& first = next("string literal after .string");
        if (first.kind == Token::STRING) {
            m_.strings.push_back(first.text);
        } else {
            std::string name = identifier(first, "a string");
            const Token& text = next("string literal after the name");
            if (text.kind != Token::STRING)
                fail(text.line, "expected a string literal, got " + describe(text));
            define(stringNames_, name, static_cast<int32_t>(m_.strings.size()), line, "string");
            m_.strings.push_back(text.text);
        }
        endOfStatement("the string");
    }

    std::string methodName(const char* directive)
    {
        const Token& t = next("method name");
        if (t.kind != Token::STRING)
            fail(t.line, std::string("expected the method name in quotes after ") + directive + ", got " + describe(t));
        return t.text;
    }

    MethodTarget methodTarget()
    {
        MethodTarget target;
        target.line = curLine();
        target.address = refOf(next("code address"), "code address");
        if (peekAtom("map")) {
            ++ti_;
            target.map = refOf(next("stack map after 'map'"), "stack map");
        }
        return target;
    }

    void staticDirective()
    {
        StaticDecl s;
        s.name = methodName(".static");
        s.target = methodTarget();
        endOfStatement("the static method");
        statics_.push_back(std::move(s));
    }

    void virtualDirective()
    {
        VirtualDecl v;
        v.line = curLine();
        v.name = methodName(".virtual");
        for (;;) {
            if (!more() && !continueWith({"impl"}))
                break;
            const Token& k = next("impl");
            if (k.kind != Token::ATOM || k.text != "impl")
                fail(k.line, "expected 'impl' in .virtual, got " + describe(k));
            ImplDecl impl;
            impl.cls = refOf(next("class after 'impl'"), "class", true);
            impl.target = methodTarget();
            v.impls.push_back(std::move(impl));
        }
        virtuals_.push_back(std::move(v));
        lastWasBlock_ = true;
    }

    void byteDirective()
    {
        CodeItem item;
        item.line = curLine();
        item.address = static_cast<uint32_t>(address_);
        item.raw = true;
        if (!more())
            fail(item.line, "expected byte values after .byte");
        while (more())
            item.operands.push_back(next("byte"));
        advance(static_cast<int64_t>(item.operands.size()), item.line);
        code_.push_back(std::move(item));
    }

    // ---- warnings about the entry methods ------------------------------------

    struct MethodName {
        std::string name;
        int line;
    };

    // The methods as the loader numbers them: the static ones, then each
    // virtual name not given before.
    std::vector<MethodName> methodTable() const
    {
        std::vector<MethodName> out;
        for (const StaticDecl& d : statics_)
            out.push_back({d.name, d.target.line});
        for (const VirtualDecl& d : virtuals_)
            if (std::none_of(out.begin(), out.end(), [&](const MethodName& m) { return m.name == d.name; }))
                out.push_back({d.name, d.line});
        return out;
    }

    // The pieces of a signature as the runtime cuts it: each ends after a
    // '<', and after a leading '('.
    static std::vector<std::string_view> pieces(std::string_view signature)
    {
        std::vector<std::string_view> out;
        size_t start = 0;
        for (size_t i = 0; i < signature.size(); ++i)
            if (signature[i] == '<' || (signature[i] == '(' && i == 0)) {
                out.push_back(signature.substr(start, i + 1 - start));
                start = i + 1;
            }
        if (start < signature.size() || out.empty())
            out.push_back(signature.substr(start));
        return out;
    }

    struct Match {
        std::vector<int> levels;  // the '*' count after each piece but the last
        bool whole = true;        // the name ends where the signature does
    };

    // The runtime's test of a method name against a signature.
    static std::optional<Match> match(std::string_view signature, std::string_view name)
    {
        std::vector<std::string_view> parts = pieces(signature);
        Match m;
        size_t pos = 0;
        for (size_t k = 0; k < parts.size(); ++k) {
            if (name.substr(pos, parts[k].size()) != parts[k])
                return std::nullopt;
            pos += parts[k].size();
            if (k + 1 < parts.size()) {
                int stars = 0;
                for (; pos < name.size() && name[pos] == '*'; ++pos)
                    ++stars;
                m.levels.push_back(stars);
            }
        }
        m.whole = pos == name.size();
        return m;
    }

    static std::string withLevels(std::string_view signature, const std::vector<int>& levels)
    {
        std::vector<std::string_view> parts = pieces(signature);
        std::string out;
        for (size_t k = 0; k < parts.size(); ++k) {
            out += parts[k];
            if (k < levels.size())
                out += std::string(size_t(levels[k]), '*');
        }
        return out;
    }

    // The levels at which each entry method's parameters are usable: the
    // object itself for receivers and the canvas, the key event and plain
    // values as they come, the text of an error as a string value. Empty:
    // never called, not checked.
    static std::vector<int> usableLevels(int entry)
    {
        using VM = vm::VirtualMachine;
        switch (entry) {
        case VM::ETimerEvent: case VM::EExitEvent: case VM::EForeground: case VM::EBackground:
        case VM::EPrintThrowableAndExit:
            return {1};
        case VM::EDraw: return {1, 1};
        case VM::EKeyPressed: case VM::EKeyReleased: case VM::EOrientationChanged: return {1, 0};
        case VM::EPointerEvent: return {1, 0, 0, 0, 0};
        case VM::EInternalThrow: return {0, 1};
        default: return {};
        }
    }

    void entryWarnings()
    {
        using VM = vm::VirtualMachine;
        const std::vector<MethodName> table = methodTable();
        std::vector<bool> entry(table.size(), false);
        for (int e = 0; e < VM::EEntryCount; ++e) {
            const std::string signature = VM::kEntrySignatures[e];
            size_t found = 0;
            std::optional<Match> m;
            for (; found < table.size() && !m; ++found)
                m = match(signature, table[found].name);
            if (!m) {
                if (e == VM::EMain || e == VM::EGlobalInit)
                    warn(0, "no method \"" + signature + "\": the runtime refuses the program ('" + signature +
                                "' not found)");
                continue;
            }
            const MethodName& method = table[--found];
            entry[found] = true;
            const std::string quoted = "\"" + method.name + "\"";
            if (!m->whole)
                warn(method.line, "the runtime takes " + quoted + " for \"" + signature +
                                      "\" (its name begins with it)");
            std::vector<int> usable = usableLevels(e);
            for (size_t k = 0; k < usable.size() && k < m->levels.size(); ++k)
                if (m->levels[k] != usable[k]) {
                    warn(method.line, quoted + " takes parameter " + std::to_string(k + 1) + " at level " +
                                          std::to_string(m->levels[k]) + ", but the runtime's value is usable at " +
                                          std::to_string(usable[k]) + ": name it \"" +
                                          withLevels(signature, usable) + "\"");
                    break;
                }
        }
        // Names close to an entry method's that the runtime never calls.
        for (size_t i = 0; i < table.size(); ++i) {
            if (entry[i])
                continue;
            std::string plain;
            for (char c : table[i].name)
                if (c != '*')
                    plain += c;
            for (int e = 0; e < VM::EEntryCount; ++e) {
                std::string_view signature = VM::kEntrySignatures[e];
                if (signature.find('<') == std::string_view::npos)
                    continue;
                const std::string quoted = "\"" + table[i].name + "\"";
                if (plain == signature) {
                    warn(table[i].line, quoted + " is never called: an earlier method is taken for it");
                    break;
                }
                if (editDistance(plain, signature) <= 3) {
                    warn(table[i].line, quoted + " is never called: it looks like the entry method \"" +
                                            std::string(signature) + "\" but does not match it");
                    break;
                }
            }
        }
    }

    // ---- resolution and encoding -------------------------------------------

    int32_t mapFor(const MethodTarget& t)
    {
        if (t.map)
            return lookup(mapNames_, *t.map, "stack map");
        if (!t.address.named)
            fail(t.line, "missing 'map' after the code address");
        auto it = mapNames_.find(t.address.name);
        if (it == mapNames_.end())
            fail(t.line, "no 'map' given and no stack map named '" + t.address.name + "'");
        return it->second.value;
    }

    void use(WidthField f, int64_t value, int line) { uses_[f].push_back(Num{value, line}); }

    void resolve()
    {
        // Each record is kept even when a part of it is wrong, so that later
        // references to it do not fail as well.
        for (const ClassDecl& c : classes_) {
            ClassRecord r;
            attempt([&] { classRecord(c, r); });
            m_.classes.push_back(std::move(r));
        }

        for (const MapDecl& d : maps_) {
            StackMap s;
            attempt([&] { stackMap(d, s); });
            m_.maps.push_back(std::move(s));
        }

        for (const StaticDecl& d : statics_) {
            StaticMethod s;
            s.name = d.name;
            attempt([&] {
                s.codeAddress = lookup(labels_, d.target.address, "label");
                s.gcInfoIndex = mapFor(d.target);
                use(W_CODE_ADDRESS, s.codeAddress, d.target.line);
                use(W_GC_INFO_INDEX, s.gcInfoIndex, d.target.line);
            });
            m_.statics.push_back(std::move(s));
        }

        for (const VirtualDecl& d : virtuals_) {
            VirtualMethod v;
            v.name = d.name;
            for (const ImplDecl& i : d.impls) {
                VirtualImpl im;
                attempt([&] {
                    im.classIndex = lookup(classNames_, i.cls, "class");
                    im.codeAddress = lookup(labels_, i.target.address, "label");
                    im.gcInfoIndex = mapFor(i.target);
                    use(W_CLASS_INDEX, im.classIndex, i.cls.line);
                    use(W_CODE_ADDRESS, im.codeAddress, i.target.line);
                    use(W_GC_INFO_INDEX, im.gcInfoIndex, i.target.line);
                });
                v.impls.push_back(im);
            }
            use(W_IMPL_COUNT, static_cast<int64_t>(v.impls.size()), d.line);
            m_.virtuals.push_back(std::move(v));
        }

        for (const CodeItem& item : code_)
            attempt([&] { encode(item); });

        Widths automatic = autoWidths(m_);
        for (int f = 0; f < W_FIELD_COUNT; ++f) {
            int w = widthOverride_[f] ? widthOverride_[f] : automatic[f];
            m_.widths[f] = static_cast<uint8_t>(w);
            for (const Num& n : uses_[f])
                if (!fitsWidth(n.value, w))
                    record(AsmError(std::string(file_), n.line,
                                    std::string(kFieldWhat[f]) + " " + std::to_string(n.value) + " does not fit width " +
                                        std::to_string(w) + rangeText(w)));
        }
    }

    void classRecord(const ClassDecl& c, ClassRecord& r)
    {
        for (const Num& n : c.refs)
            r.refOffsets.push_back(static_cast<int32_t>(n.value));
        for (const FlaggedNum& f : c.arrays)
            r.arrayFields.push_back(FlaggedSlot{f.flag, static_cast<int32_t>(f.offset.value)});
        if (c.super) {
            r.hasSuper = c.superFlag ? static_cast<int32_t>(c.superFlag->value) : 1;
            r.superIndex = lookup(classNames_, *c.super, "class");
            use(W_SUPER_FLAG, r.hasSuper, c.superFlag ? c.superFlag->line : c.super->line);
            use(W_CLASS_INDEX, r.superIndex, c.super->line);
        }
        for (const Ref& s : c.skipped) {
            r.skipped.push_back(lookup(classNames_, s, "class"));
            use(W_CLASS_INDEX, r.skipped.back(), s.line);
        }
        use(W_SKIP_COUNT, static_cast<int64_t>(r.skipped.size()), c.line);
        r.width = c.width ? static_cast<uint8_t>(c.width) : autoWidth(r);
        std::vector<Num> offsets = c.refs;
        for (const FlaggedNum& f : c.arrays)
            offsets.push_back(f.offset);
        checkRecordWidth(offsets, r.width, "class");
    }

    void stackMap(const MapDecl& d, StackMap& s)
    {
        auto value = [&](const std::optional<Num>& n, WidthField f) {
            if (!n)
                return int32_t(0);
            use(f, n->value, n->line);
            return static_cast<int32_t>(n->value);
        };
        s.parameterSlots = value(d.params, W_PARAMETER_SLOTS);
        s.extraSlots = value(d.extra, W_EXTRA_SLOTS);
        s.localSlots = value(d.locals, W_LOCAL_SLOTS);
        auto plain = [](const std::vector<Num>& v) {
            std::vector<int32_t> out;
            for (const Num& n : v)
                out.push_back(static_cast<int32_t>(n.value));
            return out;
        };
        auto flagged = [](const std::vector<FlaggedNum>& v) {
            std::vector<FlaggedSlot> out;
            for (const FlaggedNum& f : v)
                out.push_back(FlaggedSlot{f.flag, static_cast<int32_t>(f.offset.value)});
            return out;
        };
        s.checkedReferenceSlots = plain(d.checked);
        s.arrayReferenceSlots = flagged(d.arrays);
        s.referenceSlots = plain(d.refs);
        s.inlineArraySlots = flagged(d.inlines);
        s.width = d.width ? static_cast<uint8_t>(d.width) : autoWidth(s);
        std::vector<Num> offsets = d.checked;
        offsets.insert(offsets.end(), d.refs.begin(), d.refs.end());
        for (const FlaggedNum& f : d.arrays)
            offsets.push_back(f.offset);
        for (const FlaggedNum& f : d.inlines)
            offsets.push_back(f.offset);
        checkRecordWidth(offsets, s.width, "stack map");
    }

    static std::string rangeText(int w)
    {
        return w == 1 ? " (0..255)" : w == 2 ? " (0..65535)" : "";
    }

    void checkRecordWidth(const std::vector<Num>& offsets, int width, const char* what)
    {
        for (const Num& n : offsets)
            if (!fitsWidth(n.value, width))
                fail(n.line, std::string(what) + " offset " + std::to_string(n.value) + " does not fit width " +
                                 std::to_string(width) + rangeText(width));
    }

    class Operands {
    public:
        Operands(const Assembler& a, const CodeItem& item) : a_(a), item_(item) {}
        bool more() const { return pos_ < item_.operands.size(); }
        const Token& next(const std::string& what)
        {
            if (!more())
                a_.fail(item_.line, "missing operand (" + what + ") for '" + mnemonic() + "'");
            return item_.operands[pos_++];
        }
        bool peekAtom(std::string_view text) const
        {
            return more() && item_.operands[pos_].kind == Token::ATOM && item_.operands[pos_].text == text;
        }
        void finish() const
        {
            if (more())
                a_.fail(item_.line, "unexpected operand " + describe(item_.operands[pos_]) + " for '" + mnemonic() + "'");
        }
        std::string mnemonic() const { return vm::kOpcodeInfo[item_.opcode].mnemonic; }

    private:
        const Assembler& a_;
        const CodeItem& item_;
        size_t pos_ = 0;
    };

    void encode(const CodeItem& item)
    {
        std::vector<uint8_t>& out = m_.code;
        if (item.raw) {
            for (const Token& t : item.operands)
                out.push_back(static_cast<uint8_t>(ranged(t, -128, 255, "a .byte value")));
            return;
        }
        const vm::OpcodeInfo& info = vm::kOpcodeInfo[item.opcode];
        size_t start = out.size();
        out.push_back(item.opcode);
        Operands ops(*this, item);
        const std::string mn = info.mnemonic;
        auto s8 = [&](const std::string& what) { putLE(out, ranged(ops.next(what), -128, 127, what), 1); };
        auto u8 = [&](const std::string& what) { putLE(out, ranged(ops.next(what), 0, 255, what), 1); };
        auto s32 = [&](const std::string& what) { putLE(out, word(ops.next(what), what), 4); };
        // Jumps go to A + operand bytes + d. A handler records A + 8 + d and a
        // catch resumes one byte after it, so a handler label L gives
        // d = L - (A + 9).
        auto branch = [&](const Token& t, int bytes) {
            int64_t offset;
            int64_t base = int64_t(item.address) + info.operandBytes + (info.format == vm::OperandFormat::TRY ? 1 : 0);
            int64_t lo = bytes == 2 ? INT16_MIN : INT32_MIN, hi = bytes == 2 ? INT16_MAX : INT32_MAX;
            if (looksNumeric(t)) {
                offset = ranged(t, lo, hi, "a raw offset of '" + mn + "'");
            } else {
                Ref r = refOf(t, "label");
                int64_t target = lookup(labels_, r, "label");
                offset = target - base;
                if (offset < lo || offset > hi)
                    fail(item.line, "offset " + std::to_string(offset) + " to label '" + r.name + "' out of range for '" +
                                        mn + "' (" + std::to_string(bytes * 8) + "-bit)");
            }
            putLE(out, offset, bytes);
        };
        switch (info.format) {
        case vm::OperandFormat::NONE: break;
        case vm::OperandFormat::S8: s8("a signed byte"); break;
        case vm::OperandFormat::S32: s32("a 32-bit value"); break;
        case vm::OperandFormat::BR16: branch(ops.next("target label"), 2); break;
        case vm::OperandFormat::BR32: branch(ops.next("target label"), 4); break;
        case vm::OperandFormat::CALL: encodeCall(item, ops); break;
        case vm::OperandFormat::VCALL: {
            const Token& t = ops.next("virtual method");
            int64_t number = -1;
            if (t.kind == Token::STRING) {
                for (size_t i = 0; i < m_.virtuals.size() && number < 0; ++i)
                    if (m_.virtuals[i].name == t.text)
                        number = static_cast<int64_t>(i);
                if (number < 0) {
                    std::vector<std::string> names;
                    for (const VirtualMethod& v : m_.virtuals)
                        names.push_back(v.name);
                    fail(t.line, "unknown virtual method " + quoteBytes(t.text) + didYouMean(t.text, names));
                }
            } else if (looksNumeric(t)) {
                number = numberOf(t, "a virtual method number");
                if (number < 0 || number >= static_cast<int64_t>(m_.virtuals.size()))
                    fail(t.line, "virtual method number " + std::to_string(number) + " out of range (the module has " +
                                     std::to_string(m_.virtuals.size()) + " virtual methods)");
            } else {
                fail(t.line, "expected a virtual method name in quotes or its number, got " + describe(t));
            }
            putLE(out, number, 4);
            break;
        }
        case vm::OperandFormat::RET:
            s32("the return-address slot");
            s32("the slots to pop");
            break;
        case vm::OperandFormat::NEW:
            u8("a gc code");
            s32("a word count");
            break;
        case vm::OperandFormat::NEWW:
            u8("a gc code");
            s32("a word count");
            s8("an indirection level");
            break;
        case vm::OperandFormat::STR: putLE(out, stringOperand(ops.next("string")), 4); break;
        case vm::OperandFormat::CLASS:
            putLE(out, lookup(classNames_, refOf(ops.next("class"), "class", true), "class"), 4);
            break;
        case vm::OperandFormat::TRY: {
            const Token& c = ops.next("class");
            int32_t cls = c.kind == Token::ATOM && c.text == "any" ? -1 : lookup(classNames_, refOf(c, "class", true), "class");
            putLE(out, cls, 4);
            branch(ops.next("handler label"), 4);
            break;
        }
        case vm::OperandFormat::NATIVE:
        case vm::OperandFormat::EXT: {
            const bool native = info.format == vm::OperandFormat::NATIVE;
            const Token& g = ops.next(native ? "native group" : "extension");
            if (const vm::NativeFunctionInfo* f = qualifiedCall(g, native)) {
                putLE(out, f->group, 1);
                putLE(out, f->function, 1);
                break;
            }
            if (looksNumeric(g))
                putLE(out, native ? ranged(g, -128, 127, "a native group") : ranged(g, 0, 255, "an extension number"), 1);
            else
                putLE(out, namedGroup(g, native), 1);
            // Function bytes from 128 on may be written unsigned.
            putLE(out, ranged(ops.next(native ? "function" : "operation"), native ? -128 : 0, 255,
                              native ? "a native function number" : "an extension operation"),
                  1);
            break;
        }
        case vm::OperandFormat::IMM64: {
            const Token& first = ops.next("value");
            if (ops.more()) {
                putLE(out, word(first, "the first word"), 4);
                s32("the second word");
            } else {
                putLE(out, numberOf(first, "a 64-bit value"), 8);
            }
            break;
        }
        case vm::OperandFormat::S8S8:
            s8("a slot offset");
            s8("a field offset");
            break;
        }
        ops.finish();
        if (out.size() - start != size_t(1) + info.operandBytes)
            fail(item.line, "internal error: operand size mismatch for '" + mn + "'");
    }

    int namedGroup(const Token& t, bool native) const
    {
        std::optional<int> n;
        if (t.kind == Token::ATOM)
            n = native ? nativeGroupNumber(t.text) : extensionNumber(t.text);
        if (!n) {
            std::vector<std::string> names;
            if (native)
                for (const vm::NativeGroupInfo& g : vm::nativeGroups())
                    names.push_back(g.name);
            else
                for (const vm::ExtensionInfo& e : vm::extensions())
                    names.push_back(e.name);
            fail(t.line, std::string(native ? "unknown native group " : "unknown extension ") + describe(t) +
                             (t.kind == Token::ATOM ? didYouMean(t.text, names) : std::string()));
        }
        return *n;
    }

    // `Group.function` (`Extension.operation`): the table's entry; null for
    // any other operand.
    const vm::NativeFunctionInfo* qualifiedCall(const Token& t, bool native) const
    {
        if (t.kind != Token::ATOM || looksNumeric(t))
            return nullptr;
        size_t dot = t.text.find('.');
        if (dot == std::string::npos)
            return nullptr;
        Token group = t;
        group.text = t.text.substr(0, dot);
        int number = namedGroup(group, native);
        std::string name = t.text.substr(dot + 1);
        const vm::NativeFunctionInfo* f =
            native ? nativeFunctionNamed(number, name) : extensionOperationNamed(number, name);
        if (!f) {
            std::vector<std::string> names;
            for (const vm::NativeFunctionInfo& g : native ? vm::nativeFunctions() : vm::extensionOperations())
                if (g.group == number)
                    names.push_back(g.name);
            fail(t.line, std::string(native ? "unknown function '" : "unknown operation '") + name + "' of " +
                             (native ? "native group '" : "extension '") + group.text + "'" + didYouMean(name, names));
        }
        return f;
    }

    void encodeCall(const CodeItem& item, Operands& ops)
    {
        const Token& t = ops.next("static method");
        int32_t address, map;
        if (t.kind == Token::STRING) {
            const StaticMethod* found = nullptr;
            for (const StaticMethod& s : m_.statics)
                if (s.name == t.text) {
                    found = &s;
                    break;
                }
            if (!found) {
                std::vector<std::string> names;
                for (const StaticMethod& s : m_.statics)
                    names.push_back(s.name);
                fail(t.line, "unknown static method " + quoteBytes(t.text) + didYouMean(t.text, names));
            }
            address = found->codeAddress;
            map = found->gcInfoIndex;
        } else {
            MethodTarget target;
            target.line = item.line;
            target.address = refOf(t, "code address");
            if (ops.peekAtom("map")) {
                ops.next("map");
                target.map = refOf(ops.next("stack map"), "stack map");
            }
            address = lookup(labels_, target.address, "label");
            map = mapFor(target);
        }
        putLE(m_.code, address, 4);
        putLE(m_.code, map, 4);
    }

    int32_t stringOperand(const Token& t)
    {
        if (t.kind == Token::STRING) {
            for (size_t i = 0; i < m_.strings.size(); ++i)
                if (m_.strings[i] == t.text)
                    return static_cast<int32_t>(i);
            m_.strings.push_back(t.text);
            return static_cast<int32_t>(m_.strings.size() - 1);
        }
        return lookup(stringNames_, refOf(t, "string"), "string");
    }

    std::string_view src_;
    std::string_view file_;
    std::vector<AsmDiagnostic> diagnostics_;
    int errors_ = 0;
    std::vector<SourceLine> lines_;
    size_t li_ = 0, ti_ = 0;
    bool lastWasBlock_ = false;

    Module m_;
    int64_t address_ = 0;
    int moduleLine_ = 0, globalsLine_ = 0;
    std::array<int, W_FIELD_COUNT> widthOverride_{};
    std::array<std::vector<Num>, W_FIELD_COUNT> uses_;

    std::map<std::string, Symbol> labels_, classNames_, mapNames_, stringNames_;
    std::vector<ClassDecl> classes_;
    std::vector<MapDecl> maps_;
    std::vector<StaticDecl> statics_;
    std::vector<VirtualDecl> virtuals_;
    std::vector<CodeItem> code_;
};

}  // namespace

AsmResult assembleFile(std::string_view source, std::string_view fileName)
{
    return Assembler(source, fileName).run();
}

std::vector<uint8_t> assemble(std::string_view source, std::string_view fileName)
{
    AsmResult result = assembleFile(source, fileName);
    for (const AsmDiagnostic& d : result.diagnostics)
        if (!d.warning)
            throw AsmError(d.file, d.line, d.message);
    return std::move(result.bytes);
}

}  // namespace mcb
