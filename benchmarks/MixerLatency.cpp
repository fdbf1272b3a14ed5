// Latency of the audio mixer: time from the play operation to the first
// non-zero sample recorded from the sink's monitor, over 20 plays. Needs a
// sound server with a 16 kHz sink (benchmarks/mixer_latency.sh starts one);
// the recorder (parec, 5 ms fragments) adds its own delay, so the figures are
// an upper bound of the mixer's.
//
//   MixerLatency SINK
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Assembler.h"
#include "HeadlessHost.h"
#include "IO/CAppsFileReader.h"
#include "IO/FileStream.h"
#include "VirtualMachine.h"
#include "VirtualMachineExtensions/AudioMixer/AudioMixer.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kProgram = R"(
.module "latency"
.globals 1
.map plain
.static "::global::init" init map plain
.static "main" main map plain
.static "play" play map plain
.static "stop" stop map plain
.code
init:
    ret 0, 1
main:
    globals
    extcall 30, 1
    globals
    ldstr "click.raw"
    extcall 30, 2
    adjust.s -1
    ret 0, 1
play:
    globals
    push 0
    extcall 30, 4
    ret 0, 1
stop:
    globals
    push 0
    extcall 30, 5
    ret 0, 1
)";

class Host : public vm::HeadlessHost {
public:
    std::string directory;
    vm::VirtualMachine* machine = nullptr;
    std::unique_ptr<ext::AudioMixerExtension> mixer;

    KELVAR::InputStream* openInputStream(const OString& aPath, int) override
    {
        auto stream = std::make_unique<KELVAR::FileInputStream>();
        return stream->open(CAppsString((directory + "/" + aPath.toUtf8()).c_str())) ? stream.release() : nullptr;
    }
    int callExtension(int aExtension, int aOperation, int aTop, vm::Addr aBase) override
    {
        if (aExtension != 30)
            vm::raiseVmError(vm::KErrVm, "Dll not supported");
        if (!mixer)
            mixer = std::make_unique<ext::AudioMixerExtension>(*machine, *this);
        return mixer->callDllNative(aOperation, aTop, aBase);
    }
};

// Reads the recorder's output; remembers when the first non-zero sample
// after arming arrived and when the last one did.
struct Recorder {
    FILE* pipe = nullptr;
    std::atomic<bool> armed{false};
    std::atomic<int64_t> heardAt{0};       // ns since epoch of the clock
    std::atomic<int64_t> lastSoundAt{0};
    std::thread reader;

    void run()
    {
        int fd = fileno(pipe);
        int16_t buffer[512];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            int64_t now = Clock::now().time_since_epoch().count();
            size_t count = size_t(n) / 2;
            for (size_t i = 0; i < count; ++i) {
                if (buffer[i] == 0)
                    continue;
                // The sample played (count - 1 - i) samples before the read ended.
                int64_t at = now - int64_t(count - 1 - i) * 62500;
                lastSoundAt = now;
                if (armed.exchange(false))
                    heardAt = at;
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: MixerLatency SINK\n");
        return 2;
    }
    char pattern[] = "/tmp/mcb-latency-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    Host host;
    host.directory = pattern;
    {
        std::ofstream click(host.directory + "/click.raw", std::ios::binary);
        for (int i = 0; i < 3200; ++i)
            click.write("\x10\x27", 2);  // 10000
    }
    vm::VirtualMachine machine;
    host.machine = &machine;
    std::vector<uint8_t> bytes = mcb::assemble(kProgram, "latency");
    CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
    machine.start(reader, CAppsString("index.mcb"), &host);
    int play = machine.getMethodHandle(CAppsString("play"), 0);
    int stop = machine.getMethodHandle(CAppsString("stop"), 0);

    Recorder recorder;
    std::string command = std::string("parec -d ") + argv[1] +
                          ".monitor --rate=16000 --channels=1 --format=s16le --raw --latency-msec=5 2>/dev/null";
    recorder.pipe = popen(command.c_str(), "r");
    if (!recorder.pipe)
        return 1;
    recorder.reader = std::thread([&] { recorder.run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::vector<double> latencies;
    for (int round = 0; round < 20; ++round) {
        // Silence for 100 ms before each play.
        while (Clock::now().time_since_epoch().count() - recorder.lastSoundAt < 100000000)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorder.heardAt = 0;
        recorder.armed = true;
        int64_t start = Clock::now().time_since_epoch().count();
        machine.callMethod(play, Vec<int>(), Vec<int>(), -1);
        Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
        while (recorder.heardAt == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (recorder.heardAt == 0) {
            std::fprintf(stderr, "no sound heard\n");
            return 1;
        }
        latencies.push_back(double(recorder.heardAt - start) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        machine.callMethod(stop, Vec<int>(), Vec<int>(), -1);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("play to first recorded sample over %zu plays: min %.1f ms, median %.1f ms, max %.1f ms\n",
                latencies.size(), latencies.front(), latencies[latencies.size() / 2], latencies.back());
    std::fflush(stdout);
    // The recorder ends with the process; its pipe is not waited for.
    std::_Exit(0);
}
