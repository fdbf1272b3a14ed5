// The examples of docs/programming.md, taken from the guide itself: each is
// assembled and run, and does what the guide says it does.
#ifdef MCB_HAVE_HOST

#include <QKeyEvent>
#include <QMouseEvent>

#include <map>

#include "ExtensionRegistry.h"
#include "FileTestHost.h"
#include "HostTestSupport.h"
#include "NativesReference.h"
#include "TestSupport.h"
#include "VmTestSupport.h"

using namespace hosttest;

namespace {

// The ```mcbs blocks of the guide by the name on their first line
// ("; example: NAME").
std::map<std::string, std::string> guideExamples()
{
    std::string guide = slurp(std::string(MCB_SOURCE_DIR) + "/docs/programming.md");
    std::map<std::string, std::string> examples;
    const std::string open = "```mcbs\n", tag = "; example: ";
    for (size_t at = guide.find(open); at != std::string::npos; at = guide.find(open, at)) {
        at += open.size();
        size_t end = guide.find("```", at);
        std::string source = guide.substr(at, end - at);
        size_t eol = source.find('\n');
        EXPECT_EQ(source.compare(0, tag.size(), tag), 0) << source.substr(0, eol);
        examples[source.substr(tag.size(), eol - tag.size())] = source;
        at = end;
    }
    return examples;
}

std::string example(const std::string& aName)
{
    std::map<std::string, std::string> all = guideExamples();
    auto it = all.find(aName);
    if (it == all.end()) {
        ADD_FAILURE() << "no example " << aName;
        return "";
    }
    return it->second;
}

// Files in a scratch application directory, extension calls to a registry.
struct SoundHost : FileTestHost {
    ExtensionRegistry* registry = nullptr;
    int callExtension(int aExtension, int aOperation, int aTop, vm::Addr aStack) override
    {
        return registry->callExtension(aExtension, aOperation, aTop, aStack);
    }
};

struct ExampleWindow : HostFixture {
    void send(QEvent::Type aType, int aX, int aY, Qt::MouseButtons aButtons)
    {
        QPointF p(aX, aY);
        QMouseEvent event(aType, p, p, aType == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, aButtons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &event);
    }
    void key(int aKey, const QString& aText)
    {
        QKeyEvent press(QEvent::KeyPress, aKey, Qt::NoModifier, aText);
        QCoreApplication::sendEvent(view.get(), &press);
    }
    vm::Word field(int aIndex)
    {
        return machine().space().loadWord(vm::Addr(machine().application()) + 4u * uint32_t(aIndex));
    }
};

}  // namespace

TEST(ExampleGuide, TheGuideHoldsItsFiveExamplesAndTheyAssembleCleanly)
{
    std::map<std::string, std::string> all = guideExamples();
    std::vector<std::string> names;
    for (const auto& [name, source] : all) {
        names.push_back(name);
        mcb::AsmResult result = mcb::assembleFile(source, name + ".mcbs");
        EXPECT_TRUE(result.diagnostics.empty()) << name << ":\n" << result.report();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"beep", "bounce", "hello", "notes", "paint"}));
}

TEST(ExampleGuide, HelloLogsAndExits)
{
    TestHost host;
    vm::VirtualMachine machine;
    EXPECT_EQ(runProgram(assembleOrFail(example("hello")), host, machine), "ok");
    EXPECT_EQ(host.logs, (std::vector<std::string>{"Hello, world", "12 squared is 144"}));
    EXPECT_EQ(host.exits, 1);
}

TEST_F(ExampleWindow, PaintFollowsThePointerAndTheSpaceKey)
{
    constexpr QRgb kRed = 0xFFE02020, kGreen = 0xFF00E000, kBlack = 0xFF000000;
    ASSERT_EQ(start(example("paint")), host::KRunGoesOn);
    QImage image = grab();
    EXPECT_EQ(pixel(image, 100, 100), kRed);  // the box around (100, 100)
    EXPECT_EQ(pixel(image, 81, 81), kRed);
    EXPECT_EQ(pixel(image, 79, 100), kBlack);
    EXPECT_EQ(pixel(image, 600, 300), kBlack);

    send(QEvent::MouseButtonPress, 600, 300, Qt::LeftButton);
    send(QEvent::MouseMove, 650, 320, Qt::LeftButton);  // a drag
    image = grab();
    EXPECT_EQ(pixel(image, 100, 100), kBlack);
    EXPECT_EQ(pixel(image, 650, 320), kRed);
    EXPECT_EQ(pixel(image, 600, 300), kBlack);

    key(Qt::Key_Space, " ");
    EXPECT_EQ(pixel(grab(), 650, 320), kGreen);
    key(Qt::Key_A, "a");
    EXPECT_EQ(pixel(grab(), 650, 320), kGreen);
    key(Qt::Key_Space, " ");
    EXPECT_EQ(pixel(grab(), 650, 320), kRed);
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);
}

TEST_F(ExampleWindow, BounceMovesOnEachTickAndStopsAfterThirty)
{
    constexpr QRgb kBar = 0xFFFFD000, kBackground = 0xFF000040;
    testing::internal::CaptureStderr();
    ASSERT_EQ(start(example("bounce")), host::KRunGoesOn);
    EXPECT_EQ(pixel(grab(), 10, 240), kBar);  // x = 0 before the first tick
    QElapsedTimer waited;
    waited.start();
    while (field(2) < 30 && waited.elapsed() < 10000)
        processEventsFor(20);
    EXPECT_EQ(field(2), 30);
    EXPECT_EQ(field(1), 300);
    processEventsFor(100);  // the timer is gone: nothing moves any more
    EXPECT_EQ(field(2), 30);
    QImage image = grab();
    EXPECT_EQ(pixel(image, 310, 240), kBar);
    EXPECT_EQ(pixel(image, 339, 279), kBar);
    EXPECT_EQ(pixel(image, 290, 240), kBackground);
    EXPECT_EQ(pixel(image, 10, 240), kBackground);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("LOG: stopped\n"), std::string::npos);
}

TEST(ExampleGuide, NotesWritesReadsAndCatchesTheMissingFile)
{
    FileTestHost host;
    vm::VirtualMachine machine;
    EXPECT_EQ(runProgram(assembleOrFail(example("notes")), host, machine), "ok");
    EXPECT_EQ(host.logs, (std::vector<std::string>{"13", "caf\xC3\xA9 au lait", "-1",
                                                   "IOException: Could not open file: nothing.txt"}));
    EXPECT_EQ(slurp(host.path("notes.txt")), "caf\xC3\xA9 au lait");
}

TEST(ExampleGuide, BeepWritesItsWaveAndPlaysItOnAMixerChannel)
{
    SoundHost host;
    vm::VirtualMachine machine;
    ExtensionRegistry registry;  // after the VM: extensions go before the heap
    registry.setUp(&machine, &host);
    host.registry = &registry;
    setenv("PULSE_SERVER", host.path("no-server").c_str(), 1);  // silent
    testing::internal::CaptureStderr();
    std::string outcome = runProgram(assembleOrFail(example("beep")), host, machine);
    testing::internal::GetCapturedStderr();
    unsetenv("PULSE_SERVER");
    EXPECT_EQ(outcome, "ok");
    EXPECT_EQ(host.logs, (std::vector<std::string>{"0", "128"}));
    std::string wave = slurp(host.path("beep.raw"));
    ASSERT_EQ(wave.size(), 32000u);  // one second of 16 kHz 16-bit samples
    EXPECT_EQ(wave.substr(0, 4), std::string("\0@\0@", 4));
    EXPECT_EQ(wave.substr(38, 4), std::string("\0@\0\0", 4));  // sample 19 high, 20 low
    EXPECT_EQ(wave.substr(78, 4), std::string("\0\0\0@", 4));  // the next period
}

TEST(ExampleGuide, TheNativesReferenceIsTheTablesOwn)
{
    std::string guide = slurp(std::string(MCB_SOURCE_DIR) + "/docs/programming.md");
    std::optional<std::string> current = mcb::withCurrentReference(guide);
    ASSERT_TRUE(current.has_value()) << "no reference markers";
    EXPECT_TRUE(*current == guide) << "out of date: run mcb-natives --update docs/programming.md";
    // A few rows as a reader finds them.
    for (const char* row : {"| `String.length` | 10 | `s:str` \u2192 `int` | 1 \u2192 1 |",
                            "| `Location.getFirst` | 12 | `l:location` \u2192 `fixed` | 1 \u2192 2 |",
                            "| `append` | 19 | `v:vec e:elem` \u2192 \u2014 | 1 + E \u2192 0 |"})
        EXPECT_NE(guide.find(row), std::string::npos) << row;
}

#endif  // MCB_HAVE_HOST
