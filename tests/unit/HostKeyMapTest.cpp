// Host key names, the keymap file and the events script.
#ifdef MCB_HAVE_HOST

#include <gtest/gtest.h>

#include "EventScript.h"
#include "KeyMap.h"

namespace {

constexpr int kLeft = 0x1000003, kRight = 0x1000004, kUp = 0x1000005, kDown = 0x1000006;
constexpr int kReturn = 0x1000001, kBackspace = 0x1000002, kOther = 0x1000000;

// The mistake of parsing aText into a map that holds "A = Up" already; the
// map must be left as it was.
std::string keymapMistake(const std::string& aText)
{
    KeyMap map;
    EXPECT_FALSE(map.parse("A = Up\n", "base"));
    std::optional<std::string> error = map.parse(aText, "keys.txt");
    EXPECT_EQ(map.translate(Qt::Key_A), kUp);
    EXPECT_EQ(map.translate(Qt::Key_B), 'B');
    EXPECT_FALSE(map.remaps(Qt::Key_B));
    return error.value_or("");
}

std::string scriptMistake(const std::string& aText)
{
    std::vector<ScriptEvent> events(1);
    std::optional<std::string> error = parseEventScript(aText, "play.txt", events);
    EXPECT_EQ(events.size(), error ? 1u : 0u);
    return error.value_or("");
}

}  // namespace

TEST(HostKeyNames, QtNamesAndNumbers)
{
    auto key = [](const char* aName) {
        std::optional<HostKey> k = hostKeyFromName(QString::fromUtf8(aName));
        return k ? k->key : -1;
    };
    EXPECT_EQ(key("A"), Qt::Key_A);
    EXPECT_EQ(key("a"), Qt::Key_A);
    EXPECT_EQ(key("7"), Qt::Key_7);
    EXPECT_EQ(key("F12"), Qt::Key_F12);
    EXPECT_EQ(key("Space"), Qt::Key_Space);
    EXPECT_EQ(key("Escape"), Qt::Key_Escape);
    EXPECT_EQ(key("Esc"), Qt::Key_Escape);
    EXPECT_EQ(key("PgUp"), Qt::Key_PageUp);
    EXPECT_EQ(key("Page Up"), Qt::Key_PageUp);
    EXPECT_EQ(key("Enter"), Qt::Key_Enter);
    EXPECT_EQ(key("Return"), Qt::Key_Return);
    EXPECT_EQ(key(","), Qt::Key_Comma);
    EXPECT_EQ(key("="), Qt::Key_Equal);
    EXPECT_EQ(key("0x1000030"), Qt::Key_F1);
    EXPECT_EQ(key("65"), Qt::Key_A);
    for (const char* bad : {"", "Nokey", "A,B", "Ctrl", "0x", "0x2000000", "99999999999"})
        EXPECT_EQ(key(bad), -1) << bad;
    std::optional<HostKey> shifted = hostKeyFromName("Shift+A");
    ASSERT_TRUE(shifted);
    EXPECT_EQ(shifted->key, Qt::Key_A);
    EXPECT_EQ(shifted->modifiers, Qt::ShiftModifier);
}

TEST(HostKeyNames, ApplicationKeys)
{
    auto code = [](const char* aName) { return applicationKeyFromName(QString::fromUtf8(aName)).value_or(-1); };
    EXPECT_EQ(code("Left"), kLeft);
    EXPECT_EQ(code("right"), kRight);
    EXPECT_EQ(code("UP"), kUp);
    EXPECT_EQ(code("Down"), kDown);
    EXPECT_EQ(code("Return"), kReturn);
    EXPECT_EQ(code("Backspace"), kBackspace);
    EXPECT_EQ(code("Other"), kOther);
    EXPECT_EQ(code("b"), 'B');
    EXPECT_EQ(code("B"), 'B');
    EXPECT_EQ(code(" "), ' ');
    EXPECT_EQ(code("`"), '`');
    EXPECT_EQ(code("5"), '5');
    EXPECT_EQ(code("~"), -1);  // above the printable range the device knew
    EXPECT_EQ(code("12"), 12);
    EXPECT_EQ(code("0x1000005"), kUp);
    EXPECT_EQ(applicationKeyFromName("0xFFFFFFFF"), std::optional<int>(-1));  // all 32 bits
    EXPECT_EQ(applicationKeyFromName("-2"), std::optional<int>(-2));
    EXPECT_EQ(applicationKeyFromName("0x100000000"), std::nullopt);
    EXPECT_EQ(code("Jump"), -1);
}

TEST(HostKeyMap, MappingsGoOnTopOfTheBuiltInTable)
{
    KeyMap map;
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.translate(Qt::Key_W), 'W');
    EXPECT_EQ(map.translate(Qt::Key_Escape), kOther);
    std::optional<std::string> error = map.parse(
        "# arrows on the left hand\n"
        "W = Up\n"
        "  A=Left   # spaces do not matter\n"
        "S = down\n"
        "D = Right\n"
        "\n"
        "Space = Return\n"
        "Escape = Backspace\n"
        "= = x\n"
        "F1 = 0x41\n"
        "Up = Other\n",
        "keys.txt");
    ASSERT_FALSE(error) << *error;
    EXPECT_FALSE(map.empty());
    EXPECT_EQ(map.translate(Qt::Key_W), kUp);
    EXPECT_EQ(map.translate(Qt::Key_A), kLeft);
    EXPECT_EQ(map.translate(Qt::Key_S), kDown);
    EXPECT_EQ(map.translate(Qt::Key_D), kRight);
    EXPECT_EQ(map.translate(Qt::Key_Space), kReturn);
    EXPECT_EQ(map.translate(Qt::Key_Escape), kBackspace);
    EXPECT_EQ(map.translate(Qt::Key_Equal), 'X');
    EXPECT_EQ(map.translate(Qt::Key_F1), 'A');
    EXPECT_EQ(map.translate(Qt::Key_Up), kOther);
    // Keys the file leaves alone keep the built-in codes.
    EXPECT_EQ(map.translate(Qt::Key_Left), kLeft);
    EXPECT_EQ(map.translate(Qt::Key_Q), 'Q');
    EXPECT_EQ(map.translate(Qt::Key_Return), kReturn);
    EXPECT_EQ(map.translate(Qt::Key_Enter), kOther);
    EXPECT_TRUE(map.remaps(Qt::Key_F1));
    EXPECT_FALSE(map.remaps(Qt::Key_F2));
    // A second file adds to the first.
    ASSERT_FALSE(map.parse("Q = Return", "more"));
    EXPECT_EQ(map.translate(Qt::Key_Q), kReturn);
    EXPECT_EQ(map.translate(Qt::Key_W), kUp);
}

TEST(HostKeyMap, MistakesNameTheFileAndLine)
{
    EXPECT_EQ(keymapMistake("B = Up\nC Up\n"), "keys.txt:2: expected 'host key = application key', found 'C Up'");
    EXPECT_EQ(keymapMistake("\n\n\nNokey = Up\n"), "keys.txt:4: unknown host key 'Nokey'");
    EXPECT_EQ(keymapMistake("Ctrl+B = Up\n"), "keys.txt:1: 'Ctrl+B': a host key is a single key, without modifiers");
    EXPECT_EQ(keymapMistake("B = Jump # no such key\n"), "keys.txt:1: unknown application key 'Jump'");
    EXPECT_EQ(keymapMistake("B =\n"), "keys.txt:1: no application key for 'B'");
    EXPECT_EQ(keymapMistake("# one\nB = Up\n\nb = Down\n"), "keys.txt:4: 'b' is mapped already on line 2");
}

TEST(HostEventScript, EventsInOrder)
{
    std::vector<ScriptEvent> events;
    std::optional<std::string> error = parseEventScript(
        "# a session\n"
        "wait 500\n"
        "key press Left\n"
        "key release Left   # let go\n"
        "key a\n"
        "key press Shift+A\n"
        "key Page Up\n"
        "pointer down 100 -2\n"
        "pointer move  0x10 200\n"
        "pointer up 150 200\n"
        "screenshot shots/one.png\n"
        "quit\n",
        "play.txt", events);
    ASSERT_FALSE(error) << *error;
    std::vector<ScriptEvent::Kind> kinds;
    for (const ScriptEvent& e : events)
        kinds.push_back(e.kind);
    using K = ScriptEvent;
    EXPECT_EQ(kinds, (std::vector<ScriptEvent::Kind>{K::Wait, K::KeyPress, K::KeyRelease, K::KeyPress, K::KeyRelease,
                                                     K::KeyPress, K::KeyPress, K::KeyRelease, K::PointerDown,
                                                     K::PointerMove, K::PointerUp, K::Screenshot, K::Quit}));
    ASSERT_EQ(events.size(), 13u);
    EXPECT_EQ(events[0].milliseconds, 500);
    EXPECT_EQ(events[0].line, 2);
    EXPECT_EQ(events[1].key.key, Qt::Key_Left);
    EXPECT_EQ(events[1].text, "");
    EXPECT_EQ(events[3].key.key, Qt::Key_A);
    EXPECT_EQ(events[3].text, "a");
    EXPECT_EQ(events[4].text, "a");
    EXPECT_EQ(events[5].key.modifiers, Qt::ShiftModifier);
    EXPECT_EQ(events[5].text, "A");
    EXPECT_EQ(events[6].key.key, Qt::Key_PageUp);
    EXPECT_EQ(events[7].line, 7);
    EXPECT_EQ(events[8].x, 100);
    EXPECT_EQ(events[8].y, -2);
    EXPECT_EQ(events[9].x, 16);
    EXPECT_EQ(events[10].y, 200);
    EXPECT_EQ(events[11].file, "shots/one.png");
}

TEST(HostEventScript, MistakesNameTheFileAndLine)
{
    EXPECT_EQ(scriptMistake("wait 5\nwait\n"), "play.txt:2: expected 'wait MS', found 'wait'");
    EXPECT_EQ(scriptMistake("wait -1\n"), "play.txt:1: expected 'wait MS', found 'wait -1'");
    EXPECT_EQ(scriptMistake("key\n"), "play.txt:1: expected 'key [press|release] NAME'");
    EXPECT_EQ(scriptMistake("key press Nokey\n"), "play.txt:1: unknown key 'Nokey'");
    EXPECT_EQ(scriptMistake("# x\npointer down 1\n"),
              "play.txt:2: expected 'pointer down|move|up X Y', found 'pointer down 1'");
    EXPECT_EQ(scriptMistake("pointer jump 1 2\n"),
              "play.txt:1: expected 'pointer down|move|up X Y', found 'pointer jump 1 2'");
    EXPECT_EQ(scriptMistake("pointer up 1 y\n"), "play.txt:1: expected 'pointer down|move|up X Y', found 'pointer up 1 y'");
    EXPECT_EQ(scriptMistake("screenshot\n"), "play.txt:1: expected 'screenshot FILE'");
    EXPECT_EQ(scriptMistake("quit now\n"), "play.txt:1: 'quit' takes nothing after it");
    EXPECT_EQ(scriptMistake("wait 1\n\ndance\n"),
              "play.txt:3: unknown event 'dance' (wait, key, pointer, screenshot, quit)");
}

TEST(HostEventScript, KeysTypeWhatAKeyboardTypes)
{
    auto text = [](int aKey, Qt::KeyboardModifiers aModifiers = Qt::NoModifier) {
        return keyText(HostKey{aKey, aModifiers}).toStdString();
    };
    EXPECT_EQ(text(Qt::Key_Q), "q");
    EXPECT_EQ(text(Qt::Key_Q, Qt::ShiftModifier), "Q");
    EXPECT_EQ(text(Qt::Key_Space), " ");
    EXPECT_EQ(text(Qt::Key_1), "1");
    EXPECT_EQ(text(Qt::Key_BraceLeft), "{");
    EXPECT_EQ(text(Qt::Key_Return), "\r");
    EXPECT_EQ(text(Qt::Key_Enter), "\r");
    EXPECT_EQ(text(Qt::Key_Backspace), "\b");
    EXPECT_EQ(text(Qt::Key_Escape), "\x1b");
    EXPECT_EQ(text(Qt::Key_Left), "");
    EXPECT_EQ(text(Qt::Key_F5), "");
}

#endif  // MCB_HAVE_HOST
