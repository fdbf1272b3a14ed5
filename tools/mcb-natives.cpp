// mcb-natives: prints the natives reference made from the natives table, or
// brings the copy in a document (docs/programming.md) up to date.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "NativesReference.h"

namespace {

const char kUsage[] =
    "usage: mcb-natives [--update FILE | --check FILE]\n"
    "Prints the reference of the native groups and extensions in Markdown.\n"
    "  --update FILE   replace the reference between the markers in FILE\n"
    "  --check FILE    exit with status 1 when FILE's reference is out of date\n"
    "  --help          show this text\n";

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--help" || mode == "-h") {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 1) {
        std::cout << mcb::nativesReference();
        return 0;
    }
    if (argc != 3 || (mode != "--update" && mode != "--check")) {
        std::cerr << kUsage;
        return 2;
    }
    std::string path = argv[2];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "mcb-natives: cannot open '" << path << "'\n";
        return 1;
    }
    std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<std::string> current = mcb::withCurrentReference(document);
    if (!current) {
        std::cerr << "mcb-natives: " << path << " has no reference markers\n";
        return 1;
    }
    if (mode == "--check") {
        if (*current == document)
            return 0;
        std::cerr << "mcb-natives: the reference in " << path << " is out of date (mcb-natives --update " << path
                  << ")\n";
        return 1;
    }
    if (*current != document) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << *current;
        if (!out) {
            std::cerr << "mcb-natives: cannot write '" << path << "'\n";
            return 1;
        }
    }
    return 0;
}
