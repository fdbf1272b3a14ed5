// mcb-trace: prints a trace recorded with "mcbrun --trace FILE" as text,
// one line per record, or as a flat profile of the method calls.
#include <climits>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "IO/CAppsFileReader.h"
#include "McbFile.h"
#include "TraceReport.h"
#include "Utility/TraceLog.h"

namespace {

const char kUsage[] = R"(Usage: mcb-trace [--program index.mcb] [--profile] FILE
Prints the trace FILE recorded by "mcbrun --trace FILE": one line per record
(time in microseconds since the start, call depth, event), or a flat
profile of the method calls.

Options:
  --program FILE        name the methods after the application's bytecode
                        file (its index.mcb)
  --profile             print a flat profile instead: per method the share
                        of all self time, the cumulative and the self time
                        (ms), the calls, and the self and inclusive time per
                        call (us), most self time first
  -h, --help            show this text and exit

Exit status:
  0                     the trace was printed
  1                     the trace or the bytecode file cannot be read (the
                        reader's error on standard error, after the records
                        read before the fault)
  2                     a mistake on the command line
)";

int usageError(const std::string& aMessage)
{
    std::cerr << "mcb-trace: " << aMessage << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string input, program;
    bool profile = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--profile") {
            profile = true;
        } else if (a == "--program") {
            if (++i == argc)
                return usageError("--program needs a file");
            program = argv[i];
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else if (!input.empty()) {
            return usageError("more than one trace file");
        } else {
            input = a;
        }
    }
    if (input.empty())
        return usageError("no trace file");

    mcbtrace::MethodNames names;
    if (!program.empty()) {
        std::ifstream in(program, std::ios::binary);
        if (!in) {
            std::cerr << "mcb-trace: cannot open '" << program << "'\n";
            return 1;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        try {
            names = mcbtrace::MethodNames(mcb::readModule(bytes));
        } catch (const mcb::FormatError& e) {
            std::cerr << "mcb-trace: " << program << ": " << e.what() << "\n";
            return 1;
        }
    }

    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "mcb-trace: cannot open '" << input << "'\n";
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > size_t(INT32_MAX)) {
        std::cerr << "mcb-trace: " << input << ": too large\n";
        return 1;
    }
    CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
    Trace::TraceLog trace;
    CAppsString error;
    const bool complete = Trace::readTraceFile(trace, reader, &error, true);
    // A file that is no trace at all prints nothing but the error.
    if (complete || !trace.nodes.empty()) {
        if (profile)
            mcbtrace::printFlatProfile(std::cout, trace, names);
        else
            mcbtrace::printRecords(std::cout, trace, names);
    }
    std::cout.flush();
    if (!complete) {
        std::cerr << "mcb-trace: " << input << ": " << error.toLatin1() << "\n";
        return 1;
    }
    return std::cout ? 0 : 1;
}
