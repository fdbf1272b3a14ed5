// A host for in-process tests: records what the VM asks of the host and
// answers with fixed values.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Containers/OString.h"
#include "HeadlessHost.h"

class TestHost : public vm::HeadlessHost {
public:
    std::vector<std::string> logs;  // messages as UTF-8
    std::vector<std::vector<int> > repaints;
    std::map<int, vm::Word> timers;
    int nextTimer = 10;
    int orientation = 2;
    int exits = 0;
    int extensionCalls = 0;

    int getCurrentTimeMillis() override { return 123456; }
    int getTimeSinceStart() override { return 42; }
    void repaint(int x, int y, int w, int h) override { repaints.push_back({x, y, w, h}); }
    // Runs after a message is recorded: a test's way to act while bytecode
    // runs, as a host event arriving during an invocation would.
    std::function<void(const std::string&)> onLog;

    void log(const OString& message) override
    {
        logs.push_back(message.toUtf8());
        if (onLog)
            onLog(logs.back());
    }
    int setLogFile(const OString&) override { return 1; }
    void exit() override { ++exits; }
    void setOrientation(int mode) override { orientation = mode; }
    int getOrientation() override { return orientation; }
    int callExtension(int, int, int top, vm::Addr) override
    {
        ++extensionCalls;
        return top;
    }
    void getScreenSize(int& w, int& h) override
    {
        w = orientation == 2 ? 800 : 480;
        h = orientation == 2 ? 480 : 800;
    }
    int addTimer(vm::Word listener, int) override
    {
        timers[nextTimer] = listener;
        return nextTimer++;
    }
    vm::Word removeTimer(int id) override
    {
        auto it = timers.find(id);
        if (it == timers.end())
            return 0;
        vm::Word l = it->second;
        timers.erase(it);
        return l;
    }
    OString getApplicationDirectory() override { return OString("/tmp/app"); }
};
