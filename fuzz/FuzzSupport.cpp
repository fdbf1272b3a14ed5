#include "FuzzSupport.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "Drawable.h"
#include "IO/CAppsFileReader.h"
#include "IO/MemoryStream.h"

namespace fuzz {

void FuzzHost::log(const OString& message)
{
    if (logs.size() < 1000)
        logs.push_back(message.toUtf8());
}

int FuzzHost::addTimer(vm::Word listener, int)
{
    timers[nextTimer_] = listener;
    return nextTimer_++;
}

vm::Word FuzzHost::removeTimer(int id)
{
    auto it = timers.find(id);
    if (it == timers.end())
        return 0;
    vm::Word listener = it->second;
    timers.erase(it);
    return listener;
}

KELVAR::InputStream* FuzzHost::openInputStream(const OString&, int)
{
    if (file.empty())
        return nullptr;
    return new KELVAR::MemoryInputStream(file.data(), TUint32(file.size()));
}

bool guarded(const std::function<void()>& f)
{
    try {
        f();
        return true;
    } catch (const vm::TerminationSignal&) {
    } catch (const vm::ErrorHandlingException&) {
        vm::clearPendingError();
    }
    return false;
}

Run runProgram(const uint8_t* data, size_t size, bool gcStress)
{
    Run result;
    FuzzHost host;
    vm::VirtualMachine machine;
    machine.space().setMemoryLimit(kMemoryLimit);
    machine.setGcStress(gcStress);
    machine.setStepLimit(5000);
    machine.seedRandom(1);
    CAppsFileReader reader(data, TUint32(size));
    result.started = guarded([&] { machine.start(reader, CAppsString("index.mcb"), &host); });
    if (!result.started) {
        result.logs = std::move(host.logs);
        return result;
    }
    // The events a host delivers, each to whatever state the run left.
    bool alive = true;
    auto deliver = [&](const std::function<void()>& f) {
        if (alive)
            alive = guarded(f);
    };
    deliver([&] { machine.deliverPointer(0, 10, 20, 0); });
    deliver([&] { machine.deliverKey(65, 38, 0, OString("a"), true); });
    deliver([&] { machine.deliverKey(65, 38, 0, OString("a"), false); });
    deliver([&] { machine.deliverForeground(); });
    deliver([&] { machine.deliverBackground(); });
    deliver([&] { machine.deliverDraw(vm::createGraphicsDrawable(machine.heap(), 0)); });
    for (const auto& timer : std::map<int, vm::Word>(host.timers))
        deliver([&] { machine.deliverTimer(timer.second, timer.first); });
    deliver([&] { machine.heap().collect(); });
    result.logs = std::move(host.logs);
    return result;
}

void initQt()
{
    if (QCoreApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);  // lives as long as the process
}

}  // namespace fuzz
