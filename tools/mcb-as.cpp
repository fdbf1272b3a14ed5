// mcb-as: assembles program text into an index.mcb file.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "Assembler.h"

namespace {

const char kUsage[] =
    "usage: mcb-as [-o out.mcb] in.mcbs\n"
    "Assembles bytecode program text into a bytecode file.\n"
    "  -o FILE   write FILE (default: the input name with .mcbs replaced by .mcb)\n"
    "  --help    show this text\n"
    "Every error of the file is reported (up to 20) as FILE:LINE: error: ..., with\n"
    "the nearest known name for a misspelt one; warnings (FILE:LINE: warning: ...)\n"
    "name entry methods the runtime would not find or not call as written.\n"
    "The text format is described in docs/assembly.md.\n";

int usageError(const std::string& message)
{
    std::cerr << "mcb-as: " << message << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "-o") {
            if (i + 1 >= argc)
                return usageError("-o needs a file name");
            output = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else if (input.empty()) {
            input = a;
        } else {
            return usageError("more than one input file");
        }
    }
    if (input.empty())
        return usageError("no input file");
    if (output.empty()) {
        const std::string ext = ".mcbs";
        bool hasExt = input.size() > ext.size() && input.compare(input.size() - ext.size(), ext.size(), ext) == 0;
        output = (hasExt ? input.substr(0, input.size() - ext.size()) : input) + ".mcb";
    }

    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "mcb-as: cannot open '" << input << "'\n";
        return 1;
    }
    std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // Every error (up to a limit) and warning, one a line; no file when
    // there are errors.
    mcb::AsmResult result = mcb::assembleFile(source, input);
    std::cerr << result.report();
    if (!result.ok())
        return 1;
    const std::vector<uint8_t>& bytes = result.bytes;

    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "mcb-as: cannot write '" << output << "'\n";
        std::remove(output.c_str());
        return 1;
    }
    return 0;
}
