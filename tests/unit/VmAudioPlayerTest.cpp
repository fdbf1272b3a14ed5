// The audio player extension through bytecode, with no sound server: clips
// from files and their errors, the stack effects, and deferred operations
// that keep their players alive until the context has answered.
#include "ExtensionTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <glib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>

#include "Containers/OVector.h"
#include "StringObjects.h"
#include "VirtualMachineExtensions/AudioPlayer/AudioPlayer.h"

using namespace vm;
using ext::AudioPlayer;
using ext::PlayerConnection;

namespace {

struct VmAudioPlayer : ExtensionFixture {
    void SetUp() override
    {
        ExtensionFixture::SetUp();
        spit(file("clip.raw"), std::string("\x10\x00\x20\x00\x30", 5));
        spit(file("empty.raw"), "");
    }
    // A sound server that accepts connections and never answers: the
    // context stays connecting until the socket closes.
    int silentServer()
    {
        std::string path = file("silent");
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0)
            return -1;
        setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
        return fd;
    }
    ext::AudioPlayerExtension* extension() { return dynamic_cast<ext::AudioPlayerExtension*>(registry.extension(28)); }
    // Runs the GLib loop until the connection has failed (at most 5 s).
    bool awaitFailure()
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (extension()->connection()->state() != PlayerConnection::EFailed) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            g_main_context_iteration(nullptr, FALSE);
        }
        return true;
    }
    std::string loadInto(Word aCell, const char* aName)
    {
        int32_t* s = machine.stack();
        s[1] = aCell;
        s[2] = Word(newStringObject(machine.heap(), OString(aName)));
        s[3] = 99;
        int top = 0;
        auto [code, text] = errorOf([&] { top = registry.callExtension(28, 1, 3, machine.stackAddress()); });
        return code ? text : "top " + std::to_string(top);
    }
};

}  // namespace

TEST_F(VmAudioPlayer, ClipsComeFromFilesWithTheirErrors)
{
    ASSERT_EQ(run("", ""), "ok");
    Word cell = Word(machine.globals());
    EXPECT_EQ(loadInto(cell, "missing.raw"), "IOException: Could not open file: missing.raw");
    EXPECT_EQ(loadInto(cell, "empty.raw"), "InvalidArgumentException: File is empty");
    EXPECT_EQ(loadInto(0, "clip.raw"), "NullPointerException: NULL pointer");
    EXPECT_EQ(machine.space().loadWord(Addr(cell)), 0);  // nothing stored
    EXPECT_EQ(loadInto(cell, "clip.raw"), "top 0");
    AudioPlayer& player = objectOf<AudioPlayer>(machine.heap(), Addr(machine.space().loadWord(Addr(cell))));
    EXPECT_EQ(player.data(), (std::vector<uint8_t>{0x10, 0x00, 0x20, 0x00, 0x30}));
    EXPECT_FALSE(player.playing());
}

TEST_F(VmAudioPlayer, ClipsFromByteArraysAreCopies)
{
    ASSERT_EQ(run("", ""), "ok");
    const uint8_t bytes[] = {1, 2, 0xFE, 0x80};
    Addr array = newByteVector(machine.heap(), bytes, sizeof bytes);
    int32_t* s = machine.stack();
    s[1] = Word(machine.globals());
    s[2] = Word(array);
    s[3] = 0;
    EXPECT_EQ(registry.callExtension(28, 2, 3, machine.stackAddress()), 0);
    OVector::ofHolder(machine.heap(), array, 1).data()[0] = 99;
    AudioPlayer& player = objectOf<AudioPlayer>(machine.heap(), Addr(machine.space().loadWord(machine.globals())));
    EXPECT_EQ(player.data(), (std::vector<uint8_t>{1, 2, 0xFE, 0x80}));
    s[2] = 0;
    EXPECT_EQ(errorOf([&] { registry.callExtension(28, 2, 3, machine.stackAddress()); }).second,
              "NullPointerException: NULL pointer");
    // A string is no byte array.
    s[2] = Word(newStringObject(machine.heap(), OString("x")));
    EXPECT_EQ(errorOf([&] { registry.callExtension(28, 2, 3, machine.stackAddress()); }).first, KErrVm);
}

TEST_F(VmAudioPlayer, ErrorsReachTheProgramAsExceptions)
{
    ASSERT_EQ(run("", R"(
    globals
    ldstr "empty.raw"
    ldzero
    extcall 28, 1
)"),
              "terminated");
    EXPECT_EQ(host.logs, (std::vector<std::string>{"uncaught", "InvalidArgumentException: File is empty"}));
}

TEST_F(VmAudioPlayer, EveryOperationHasItsStackEffect)
{
    int server = silentServer();
    ASSERT_GE(server, 0);
    ASSERT_EQ(run("", "    globals\n    ldstr \"clip.raw\"\n    ldzero\n    extcall 28, 1\n"), "ok");
    Addr base = machine.stackAddress();
    int32_t* s = machine.stack();
    auto call = [&](int aOperation, std::vector<Word> aOperands) {
        for (size_t i = 0; i < aOperands.size(); ++i)
            s[10 + i] = aOperands[i];
        return registry.callExtension(28, aOperation, 9 + int(aOperands.size()), base);
    };
    Word player = Word(machine.globals());
    EXPECT_EQ(call(3, {player}), 9);
    EXPECT_EQ(call(4, {player}), 9);
    EXPECT_EQ(extension()->connection()->pending(), 2u);
    EXPECT_EQ(call(6, {5}), 9);
    for (int op : {7, 8, 10, 12, 13}) {
        EXPECT_EQ(call(op, {5}), 10) << op;
        EXPECT_EQ(s[10], 0) << op;
    }
    EXPECT_EQ(call(9, {5, 6}), 9);
    EXPECT_EQ(call(11, {5, 6}), 9);
    EXPECT_EQ(call(14, {5, 6, 7}), 9);
    // A cell that holds no player.
    machine.space().storeWord(Addr(player) + 4, Word(unbox(machine.heap(), newStringObject(machine.heap(), OString("x")))));
    EXPECT_EQ(errorOf([&] { call(3, {player + 4}); }).second, "VMException: Invalid object");
    EXPECT_EQ(errorOf([&] { call(3, {0}); }).second, "NullPointerException: NULL pointer");
    close(server);
}

TEST_F(VmAudioPlayer, PendingOperationsRootTheirPlayersUntilTheContextFails)
{
    int server = silentServer();
    ASSERT_GE(server, 0);
    // A player in a box that nothing keeps, with a start and a stop queued.
    ASSERT_EQ(run("", R"(
    ldzero
    box
    dup
    ldstr "clip.raw"
    ldzero
    extcall 28, 1
    dup
    extcall 28, 3
    extcall 28, 4
)"),
              "ok");
    ASSERT_EQ(extension()->connection()->state(), PlayerConnection::EConnecting);
    int players = machine.heap().objectCount();
    machine.heap().collect();
    EXPECT_EQ(machine.heap().objectCount(), players);
    EXPECT_EQ(extension()->connection()->pending(), 2u);
    // The server goes: the list goes, and with it the roots.
    close(server);
    ASSERT_TRUE(awaitFailure());
    EXPECT_EQ(extension()->connection()->pending(), 0u);
    machine.heap().collect();
    EXPECT_EQ(machine.heap().objectCount(), players - 1);
    // Later operations are not queued at all.
    EXPECT_EQ(loadInto(Word(machine.globals()), "clip.raw"), "top 0");
    machine.stack()[1] = Word(machine.globals());
    EXPECT_EQ(registry.callExtension(28, 3, 1, machine.stackAddress()), 0);
    EXPECT_EQ(extension()->connection()->pending(), 0u);
}

TEST_F(VmAudioPlayer, OperationFiveAndUnknownOnesAreFatal)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(run("", "    ldzero\n    extcall 28, 5\n"), "fatal");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FATAL: AudioPlayer: Unknown opcode!\n"), std::string::npos);
}

#endif  // MCB_HAVE_HOST
