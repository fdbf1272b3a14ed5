// A FrameworkServices for in-process tests: records what the VM asks of the
// host and answers with fixed values.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Containers/OString.h"
#include "FrameworkServices.h"

class TestHost : public vm::FrameworkServices {
public:
    std::vector<std::string> logs;  // messages as UTF-8
    std::vector<std::vector<int> > repaints;
    std::map<int, vm::Word> timers;
    int nextTimer = 10;
    int orientation = 2;
    int exits = 0;
    int extensionCalls = 0;

    KELVAR::OutputStream* openOutputStream(const OString&, int) override { return nullptr; }
    KELVAR::InputStream* openInputStream(const OString&, int) override { return nullptr; }
    int deleteFile(const OString&) override { return 0; }
    int fileExists(const OString&) override { return 0; }
    int fileSystemOperation6(int, int) override { return 0; }
    int moveFile(const OString&, const OString&) override { return 0; }
    int listDirectory(const OString&, Vec<OString>&, Vec<OString>&) override { return 0; }
    int createDirectory(const OString&) override { return 0; }
    int deleteDirectory(const OString&) override { return 0; }
    int moveDirectory(const OString&, const OString&) override { return 0; }
    int directoryExists(const OString&) override { return 0; }
    int frameworkOperation13() override { return 0; }
    int frameworkOperation14() override { return 0; }
    OString getPathSeparator() override { return OString("/"); }
    OString getPlatformName() override { return OString("maemo"); }
    int getCurrentTimeMillis() override { return 123456; }
    int getTimeSinceStart() override { return 42; }
    void repaint(int x, int y, int w, int h) override { repaints.push_back({x, y, w, h}); }
    void log(const OString& message) override { logs.push_back(message.toUtf8()); }
    int setLogFile(const OString&) override { return 1; }
    int frameworkOperation22(const OString&) override { return 0; }
    void exit() override { ++exits; }
    int frameworkOperation24(int, int) override { return 0; }
    int frameworkOperation25(int, bool) override { return 0; }
    void frameworkOperation26(bool, int) override {}
    void setScreenFlag(bool) override {}
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
    void frameworkOperation32(bool) override {}
    void addScreenListener(vm::Word) override {}
    void removeScreenListener(vm::Word) override {}
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
    int updateTimerDelay(int, int) override { return 1; }
    int frameworkOperation38(int, int) override { return 0; }
    OString getApplicationDirectory() override { return OString("/tmp/app"); }
};
