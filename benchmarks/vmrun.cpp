// Runs one application without a window: assembles a .mcbs (or reads a
// .mcb), starts it on a host that prints log lines to standard output, and
// prints the processor time of loading and running to standard error. Used
// by the speed comparisons and to try programs out.
// With "--trace FILE" the run is recorded into FILE (as by mcbrun --trace), the
// final write of the trace included in the time.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "Assembler.h"
#include "HeadlessHost.h"
#include "IO/CAppsFileReader.h"
#include "VirtualMachine.h"

namespace {

const char kUsage[] =
    "usage: vmrun [--trace FILE] program.mcbs|index.mcb\n"
    "Runs a program without a window: log lines go to standard output, the\n"
    "processor time of loading and running to standard error.\n"
    "  --trace FILE  record calls, returns, exceptions and collections into FILE\n"
    "  --help        show this text\n"
    "Exit status: 0 when the program ends or calls System.exit, 1 when the file\n"
    "cannot be read or assembled or a VM error escapes, 2 when the program\n"
    "terminates (System.terminate), 3 when a fatal error ends it.\n";

std::clock_t gStart;
vm::VirtualMachine* gMachine = nullptr;

void reportTime()
{
    // Processor time of loading and running, as Lua's os.clock() measures it.
    std::fprintf(stderr, "time %.3f s\n", double(std::clock() - gStart) / CLOCKS_PER_SEC);
}

// System.exit ends the run at once with status 0, as in the window.
struct RunHost : vm::HeadlessHost {
    void exit() override
    {
        gMachine->stopTrace();
        reportTime();
        std::fflush(nullptr);
        std::exit(0);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string trace;
    if (argc == 4 && std::string(argv[1]) == "--trace") {
        trace = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string path = argv[1];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vmrun: cannot open %s\n", path.c_str());
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    std::vector<uint8_t> bytes;
    if (path.size() > 5 && path.substr(path.size() - 5) == ".mcbs") {
        mcb::AsmResult assembled = mcb::assembleFile(text, path);
        std::fputs(assembled.report().c_str(), stderr);
        if (!assembled.ok())
            return 1;
        bytes = std::move(assembled.bytes);
    } else {
        bytes.assign(text.begin(), text.end());
    }
    RunHost host;
    vm::VirtualMachine machine;
    gMachine = &machine;
    CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
    gStart = std::clock();
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
    reportTime();
    return status;
}
