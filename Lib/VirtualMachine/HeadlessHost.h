// A host without window, files or timers: every service answers its neutral
// value; log lines go to standard output. For running bytecode in tests and
// measurements; the real host is MainView.
#pragma once

#include <cstdio>

#include "../Containers/OString.h"
#include "FrameworkServices.h"

namespace vm {

class HeadlessHost : public FrameworkServices {
public:
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
    int getCurrentTimeMillis() override { return 0; }
    int getTimeSinceStart() override { return 0; }
    void repaint(int, int, int, int) override {}
    void log(const OString& message) override
    {
        std::string text = message.toUtf8();
        std::fprintf(stdout, "%s\n", text.c_str());
    }
    int setLogFile(const OString&) override { return 0; }
    int frameworkOperation22(const OString&) override { return 0; }
    void exit() override {}
    int frameworkOperation24(int, int) override { return 0; }
    int frameworkOperation25(int, bool) override { return 0; }
    void frameworkOperation26(bool, int) override {}
    void setScreenFlag(bool) override {}
    void setOrientation(int mode) override { orientation_ = mode; }
    int getOrientation() override { return orientation_; }
    int callExtension(int, int, int, Addr) override { raiseVmError(KErrVm, "Dll not supported"); }
    void getScreenSize(int& width, int& height) override
    {
        width = orientation_ == 2 ? 800 : 480;
        height = orientation_ == 2 ? 480 : 800;
    }
    void frameworkOperation32(bool) override {}
    void addScreenListener(Word) override {}
    void removeScreenListener(Word) override {}
    int addTimer(Word, int) override { return nextTimer_++; }
    Word removeTimer(int) override { return 0; }
    int updateTimerDelay(int, int) override { return 1; }
    int frameworkOperation38(int, int) override { return 0; }
    OString getApplicationDirectory() override { return OString("."); }

private:
    int orientation_ = 2;
    int nextTimer_ = 10;
};

}  // namespace vm
