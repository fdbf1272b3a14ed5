// What the fuzz targets share: a host that records what bytecode asks of it
// and serves one file from memory, a guarded run of the VM, and the set-up
// every target needs (a Qt application on the offscreen platform).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HeadlessHost.h"
#include "VirtualMachine.h"

namespace fuzz {

// The memory limit of every VM a target makes: small, so that a finding is
// an error of the runtime and not the machine running out.
constexpr uint64_t kMemoryLimit = 256ull << 20;

class FuzzHost : public vm::HeadlessHost {
public:
    std::vector<std::string> logs;
    std::map<int, vm::Word> timers;
    // What openInputStream serves, whatever the name (empty: no file).
    std::vector<uint8_t> file;

    void log(const OString& message) override;
    int getCurrentTimeMillis() override { return 123456; }
    int getTimeSinceStart() override { return 42; }
    int addTimer(vm::Word listener, int) override;
    vm::Word removeTimer(int id) override;
    KELVAR::InputStream* openInputStream(const OString& name, int) override;
    int fileExists(const OString&) override { return file.empty() ? 0 : 1; }

private:
    int nextTimer_ = 10;
};

// Runs f; VM errors, termination signals and fatal ends are the outcomes a
// host sees and are not findings. Returns false when the run ended.
bool guarded(const std::function<void()>& f);

// What a run of a program logged, and whether its start (load, global
// initialisation, main) ended normally.
struct Run {
    std::vector<std::string> logs;
    bool started = false;
};

// Starts the program with a step limit and the memory limit; then delivers
// every kind of event, each timer's expiry and a collection.
Run runProgram(const uint8_t* data, size_t size, bool gcStress);

// Makes the Qt application (offscreen) that bitmaps and fonts need, unless
// one exists.
void initQt();

// The targets: each takes any bytes; a property that does not hold aborts.
int loader(const uint8_t* data, size_t size);
int run(const uint8_t* data, size_t size);
int natives(const uint8_t* data, size_t size);
int disassembler(const uint8_t* data, size_t size);
int assembler(const uint8_t* data, size_t size);
int trace(const uint8_t* data, size_t size);
int images(const uint8_t* data, size_t size);
int gcDifferential(const uint8_t* data, size_t size);

}  // namespace fuzz
