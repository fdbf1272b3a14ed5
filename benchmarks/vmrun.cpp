// Runs one application without a window: assembles a .mcbs (or reads a
// .mcb), starts it on a host that prints log lines to standard output, and
// prints the processor time of loading and running to standard error. Used by the speed comparisons.
// With "--trace FILE" the run is recorded into FILE (as by mcbrun --trace), the
// final write of the trace included in the time.
#include <ctime>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Assembler.h"
#include "IO/CAppsFileReader.h"
#include "HeadlessHost.h"
#include "VirtualMachine.h"

int main(int argc, char** argv)
{
    std::string trace;
    if (argc == 4 && std::string(argv[1]) == "--trace") {
        trace = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: vmrun [--trace FILE] program.mcbs|index.mcb\n");
        return 2;
    }
    std::string path = argv[1];
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    std::vector<uint8_t> bytes;
    if (path.size() > 5 && path.substr(path.size() - 5) == ".mcbs") {
        try {
            bytes = mcb::assemble(text, path);
        } catch (const mcb::AsmError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 2;
        }
    } else {
        bytes.assign(text.begin(), text.end());
    }
    vm::HeadlessHost host;
    vm::VirtualMachine machine;
    CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
    std::clock_t t0 = std::clock();
    if (!trace.empty())
        machine.startTrace(trace);
    int status = 0;
    try {
        machine.start(reader, CAppsString("index.mcb"), &host);
    } catch (const vm::TerminationSignal& t) {
        status = t.kind == vm::TerminationSignal::Fatal ? 3 : 2;
    } catch (const vm::ErrorHandlingException&) {
        std::fprintf(stderr, "FATAL: %s\n", vm::toLatin1(vm::pendingError().text).c_str());
        status = 1;
    }
    machine.stopTrace();
    // Processor time of loading and running, as Lua's os.clock() measures it.
    std::fprintf(stderr, "time %.3f s\n", double(std::clock() - t0) / CLOCKS_PER_SEC);
    return status;
}
