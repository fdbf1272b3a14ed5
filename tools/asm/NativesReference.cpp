#include "NativesReference.h"

#include <sstream>
#include <vector>

#include "NativeTable.h"

namespace mcb {

namespace {

using vm::NativeFunctionInfo;

// "s:str t:str" as `s:str t:str`, "" as a dash.
std::string kinds(const char* list)
{
    return *list ? "`" + std::string(list) + "`" : std::string("—");
}

// Words of a list, the element kind written as E: "2", "1 + E".
std::string words(const char* list)
{
    int plain = 0, elements = 0;
    std::string_view rest(list);
    while (!rest.empty()) {
        size_t end = rest.find(' ');
        std::string_view kind = vm::tokenKind(rest.substr(0, end));
        if (kind == "elem")
            ++elements;
        else
            plain += vm::kindWords(kind, 0);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    std::string out = plain > 0 || elements == 0 ? std::to_string(plain) : std::string();
    if (elements > 0)
        out += (out.empty() ? "" : " + ") + (elements > 1 ? std::to_string(elements) : std::string()) + "E";
    return out;
}

void header(std::ostringstream& out)
{
    out << "| Name | # | Operands → results | Words | Effect |\n|---|---|---|---|---|\n";
}

void row(std::ostringstream& out, const NativeFunctionInfo& f, bool qualified = true)
{
    out << "| `" << (qualified ? f.qualifiedName() : std::string(f.name)) << "` | " << f.function << " | "
        << kinds(f.operands) << " → " << kinds(f.results) << " | " << words(f.operands) << " → " << words(f.results)
        << " | " << f.description << " |\n";
}

bool sameRow(const NativeFunctionInfo& a, const NativeFunctionInfo& b)
{
    return std::string_view(a.name) == b.name && std::string_view(a.operands) == b.operands &&
           std::string_view(a.results) == b.results;
}

void vectorSection(std::ostringstream& out)
{
    std::vector<const NativeFunctionInfo*> plain, object;
    for (const NativeFunctionInfo& f : vm::nativeFunctions()) {
        if (f.group == 3)
            plain.push_back(&f);
        else if (f.group == 7)
            object.push_back(&f);
    }
    if (plain.empty())
        return;
    out << "### Vectors (groups 1, 3-7)\n\n"
        << "The six vector groups share their function numbers; they differ in the element, E words on the stack:\n\n"
        << "| Group | # | Element | E |\n|---|---|---|---|\n";
    for (const vm::NativeGroupInfo& g : vm::nativeGroups())
        if (g.elementWords > 0)
            out << "| `" << g.name << "` | " << g.number << " | "
                << (g.number == 1 ? "a byte (sign-extended)" : g.number == 7 ? "a reference" : "plain words") << " | "
                << g.elementWords << " |\n";
    out << "\nFunctions of every vector group (written `Vector32.append`, `ObjectVector.append`, ...):\n\n";
    header(out);
    for (const NativeFunctionInfo* f : plain)
        row(out, *f, false);
    out << "\nWhere `ObjectVector` differs:\n\n";
    header(out);
    for (const NativeFunctionInfo* f : object) {
        const NativeFunctionInfo* same = nullptr;
        for (const NativeFunctionInfo* p : plain)
            if (p->function == f->function && sameRow(*p, *f))
                same = p;
        if (!same)
            row(out, *f);
    }
    for (const NativeFunctionInfo* p : plain)
        if (!vm::nativeFunction(7, p->function))
            out << "| — | " << p->function << " | | | not in `ObjectVector` |\n";
    out << "\n";
}

}  // namespace

std::string nativesReference()
{
    std::ostringstream out;
    vectorSection(out);
    for (const vm::NativeGroupInfo& g : vm::nativeGroups()) {
        if (g.elementWords > 0)
            continue;
        out << "### " << g.name << " (group " << g.number << ")\n\n";
        bool any = false;
        for (const NativeFunctionInfo& f : vm::nativeFunctions()) {
            if (f.group != g.number)
                continue;
            if (!any)
                header(out);
            any = true;
            row(out, f);
        }
        if (!any)
            out << "No functions: every function number is unknown.\n";
        out << "\n";
    }
    for (const vm::ExtensionInfo& e : vm::extensions()) {
        out << "### " << e.name << " (extension " << e.number << ")\n\n";
        header(out);
        for (const NativeFunctionInfo& f : vm::extensionOperations())
            if (f.group == e.number)
                row(out, f);
        out << "\nAn unknown operation ends the run: \"" << e.unknownMessage << "\".\n\n";
    }
    std::string text = out.str();
    text.pop_back();  // one blank line less before the end marker
    return text;
}

std::optional<std::string> withCurrentReference(std::string_view document)
{
    size_t begin = document.find(kReferenceBegin);
    if (begin == std::string_view::npos)
        return std::nullopt;
    begin += kReferenceBegin.size();
    size_t end = document.find(kReferenceEnd, begin);
    if (end == std::string_view::npos)
        return std::nullopt;
    return std::string(document.substr(0, begin)) + nativesReference() + std::string(document.substr(end));
}

}  // namespace mcb
