// The host services the VM calls. The VM never touches the window system,
// the clock or the file system directly: it holds a FrameworkServices and
// calls these operations (numbered 2 to 39 in declaration order; the virtual
// destructor comes first). Paths are resolved by the host's path rule;
// returned streams belong to the caller.
#pragma once

#include "../Containers/Vec.h"
#include "Types.h"

class OString;
namespace KELVAR {
class InputStream;
class OutputStream;
}  // namespace KELVAR

namespace vm {

class FileSystemServices {
public:
    virtual ~FileSystemServices() = default;
    /* 2 */ virtual KELVAR::OutputStream* openOutputStream(const OString& path, int truncate) = 0;
    /* 3 */ virtual KELVAR::InputStream* openInputStream(const OString& path, int mode) = 0;
    /* 4 */ virtual int deleteFile(const OString& path) = 0;
    /* 5 */ virtual int fileExists(const OString& path) = 0;
    /* 6 */ virtual int fileSystemOperation6(int a, int b) = 0;
    /* 7 */ virtual int moveFile(const OString& from, const OString& to) = 0;
    /* 8 */ virtual int listDirectory(const OString& path, Vec<OString>& files, Vec<OString>& directories) = 0;
    /* 9 */ virtual int createDirectory(const OString& path) = 0;
    /* 10 */ virtual int deleteDirectory(const OString& path) = 0;
    /* 11 */ virtual int moveDirectory(const OString& from, const OString& to) = 0;
    /* 12 */ virtual int directoryExists(const OString& path) = 0;
};

class FrameworkServices : public FileSystemServices {
public:
    /* 13 */ virtual int frameworkOperation13() = 0;
    /* 14 */ virtual int frameworkOperation14() = 0;
    /* 15 */ virtual OString getPathSeparator() = 0;
    /* 16 */ virtual OString getPlatformName() = 0;
    /* 17 */ virtual int getCurrentTimeMillis() = 0;
    /* 18 */ virtual int getTimeSinceStart() = 0;
    /* 19 */ virtual void repaint(int x, int y, int width, int height) = 0;
    /* 20 */ virtual void log(const OString& message) = 0;
    /* 21 */ virtual int setLogFile(const OString& path) = 0;
    /* 22 */ virtual int frameworkOperation22(const OString& message) = 0;
    /* 23 */ virtual void exit() = 0;
    /* 24 */ virtual int frameworkOperation24(int a, int b) = 0;
    /* 25 */ virtual int frameworkOperation25(int a, bool b) = 0;
    /* 26 */ virtual void frameworkOperation26(bool a, int b) = 0;
    /* 27 */ virtual void setScreenFlag(bool flag) = 0;
    /* 28 */ virtual void setOrientation(int mode) = 0;
    /* 29 */ virtual int getOrientation() = 0;
    // The extension call of the interpreter: returns the new stack top.
    /* 30 */ virtual int callExtension(int extension, int operation, int top, Addr stackBase) = 0;
    /* 31 */ virtual void getScreenSize(int& width, int& height) = 0;
    /* 32 */ virtual void frameworkOperation32(bool flag) = 0;
    /* 33 */ virtual void addScreenListener(Word listener) = 0;
    /* 34 */ virtual void removeScreenListener(Word listener) = 0;
    /* 35 */ virtual int addTimer(Word listener, int delay) = 0;
    /* 36 */ virtual Word removeTimer(int id) = 0;
    /* 37 */ virtual int updateTimerDelay(int id, int delay) = 0;
    /* 38 */ virtual int frameworkOperation38(int a, int b) = 0;
    /* 39 */ virtual OString getApplicationDirectory() = 0;
};

}  // namespace vm
