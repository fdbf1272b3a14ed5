// Helpers for tests of the device extensions: a test host whose extension
// calls go to a real ExtensionRegistry and whose files come from a scratch
// directory, and a fixture that runs assembled programs on it.
#pragma once

#ifdef MCB_HAVE_HOST

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ExtensionRegistry.h"
#include "IO/FileStream.h"
#include "TestSupport.h"
#include "VmTestSupport.h"

class ExtensionTestHost : public TestHost {
public:
    ExtensionRegistry* registry = nullptr;
    std::string directory;  // relative paths are opened here

    int callExtension(int aExtension, int aOperation, int aTop, vm::Addr aStackBase) override
    {
        ++extensionCalls;
        return registry->callExtension(aExtension, aOperation, aTop, aStackBase);
    }
    KELVAR::InputStream* openInputStream(const OString& aPath, int) override
    {
        auto stream = std::make_unique<KELVAR::FileInputStream>();
        std::string path = directory + "/" + aPath.toUtf8();
        return stream->open(CAppsString(path.c_str())) ? stream.release() : nullptr;
    }
};

// Declarations before and code after the program's "main" label; the program
// has 32 global words, class App (index 1) and the exception entry methods.
inline std::string extensionProgram(const std::string& aDeclarations, const std::string& aMain,
                                    const std::string& aMethods = "")
{
    return std::string(R"(
.module "ext"
.globals 32
.class App
.map plain
.static "::global::init" init map plain
.static "main" main map plain
)") + aDeclarations + kExceptionPrelude + R"(
init:
    ret 0, 1
main:
)" + aMain + R"(
    ret 0, 1
)" + aMethods;
}

struct ExtensionFixture : ::testing::Test {
    ExtensionTestHost host;
    vm::VirtualMachine machine;
    ExtensionRegistry registry;  // after the VM: extensions go before the heap
    std::string dir;

    void SetUp() override
    {
        char pattern[] = "/tmp/mcb-ext-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        host.directory = dir;
        host.registry = &registry;
        registry.setUp(&machine, &host);
        // No sound server: tests never reach one by accident.
        setenv("PULSE_SERVER", (dir + "/no-server").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("PULSE_SERVER");
        std::filesystem::remove_all(dir);
    }

    std::string file(const std::string& aName) const { return dir + "/" + aName; }
    std::string run(const std::string& aDeclarations, const std::string& aMain, const std::string& aMethods = "")
    {
        return runProgram(assembleOrFail(extensionProgram(aDeclarations, aMain, aMethods)), host, machine);
    }
    vm::Word global(int aIndex) { return machine.space().loadWord(vm::Addr(machine.globals()) + 4u * aIndex); }
    TInt64 globalFixed(int aIndex)
    {
        return TInt64((TUint64(TUint32(global(aIndex + 1))) << 32) | TUint32(global(aIndex)));
    }
};

#endif  // MCB_HAVE_HOST
