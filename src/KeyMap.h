// Host keys to the key codes the program receives: the built-in table (the
// printable keys Space to QuoteLeft unchanged, Backspace, Return and the
// four arrows to their codes, every other key to 0x1000000), with a user's
// remapping on top, read from a small text file:
//
//     # host key = application key
//     W = Up
//     Space = Return
//     Escape = Backspace
//     X = 0x1000000
//
// One mapping per line; "#" starts a comment; blank lines are ignored. The
// host key is a key name as Qt writes it ("A", "F5", "Space", "Escape",
// "PgUp", "Enter", "Left", ...) or a Qt key number. The application key is
// one of Left, Right, Up, Down, Return, Backspace, Other (0x1000000), a
// single character from space to "`" (letters in either case give the
// upper-case code, as the keyboard does), or a number of two or more digits
// (decimal or 0x hex; a single digit is the digit's key). A host key mapped
// twice is an error.
#pragma once

#include <QString>
#include <map>
#include <optional>
#include <string>

class KeyMap {
public:
    // The code for "any other key".
    static constexpr int kOtherKey = 0x1000000;

    // The built-in translation.
    static int builtIn(int aQtKey);
    // The remapped code when the key is in the map, else the built-in one.
    int translate(int aQtKey) const;
    bool remaps(int aQtKey) const { return entries.count(aQtKey) != 0; }
    bool empty() const { return entries.empty(); }

    // Reads mappings from the text (UTF-8) into this map. On a mistake
    // returns "NAME:LINE: what is wrong" (NAME names the file in messages)
    // and leaves the map as it was.
    std::optional<std::string> parse(const std::string& aText, const std::string& aName);

private:
    std::map<int, int> entries;
};

// A host key name as Qt writes it ("A", "F12", "Space", "Shift+A", ...) or a
// number: the Qt key and its modifiers, or nothing for an unknown name.
struct HostKey {
    int key = 0;
    Qt::KeyboardModifiers modifiers;
};
std::optional<HostKey> hostKeyFromName(const QString& aName);

// The application key code of a name of the keymap format, or nothing.
std::optional<int> applicationKeyFromName(const QString& aName);
