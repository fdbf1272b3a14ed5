// mcb-dis: prints an index.mcb file as program text that mcb-as turns back
// into the same bytes.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "Disassembler.h"

namespace {

const char kUsage[] =
    "usage: mcb-dis in.mcb\n"
    "Prints a bytecode file as assembler text on standard output.\n"
    "  --help    show this text\n"
    "The text format is described in docs/assembly.md.\n";

}  // namespace

int main(int argc, char** argv)
{
    std::string input;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::cerr << "mcb-dis: unknown option '" << a << "'\n" << kUsage;
            return 2;
        }
        if (!input.empty()) {
            std::cerr << "mcb-dis: more than one input file\n" << kUsage;
            return 2;
        }
        input = a;
    }
    if (input.empty()) {
        std::cerr << "mcb-dis: no input file\n" << kUsage;
        return 2;
    }
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "mcb-dis: cannot open '" << input << "'\n";
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
        std::cout << mcb::disassemble(bytes);
    } catch (const mcb::FormatError& e) {
        std::cerr << "mcb-dis: " << input << ": " << e.what() << "\n";
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
