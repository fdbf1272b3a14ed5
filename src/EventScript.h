// A script of input events for a run without a person at the keyboard
// (--events FILE). One event a line, "#" starting a comment:
//
//     wait MS                    pause MS milliseconds
//     key press NAME             NAME as in the keymap file (KeyMap.h)
//     key release NAME
//     key NAME                   press, then release
//     pointer down X Y           X Y as the application receives them
//     pointer move X Y
//     pointer up X Y
//     screenshot FILE            the logical screen as PNG
//     quit                       end the run (status 0)
//
// The events go through the window as the keyboard's and the pointer's do:
// the keymap, F11 and F12 apply, and positions are placed on the scaled
// picture and mapped back.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "KeyMap.h"

struct ScriptEvent {
    enum Kind { Wait, KeyPress, KeyRelease, PointerDown, PointerMove, PointerUp, Screenshot, Quit };
    Kind kind = Wait;
    int milliseconds = 0;  // Wait
    HostKey key;           // KeyPress, KeyRelease
    QString text;          // KeyPress, KeyRelease: what the key types
    int x = 0, y = 0;      // Pointer*
    QString file;          // Screenshot
    int line = 0;
};

// The events of a script; "key NAME" becomes a press and a release. On a
// mistake returns "NAME:LINE: what is wrong" and leaves aEvents empty.
std::optional<std::string> parseEventScript(const std::string& aText, const std::string& aName,
                                            std::vector<ScriptEvent>& aEvents);

// The text a keyboard types with the key: printable keys their character
// (letters in lower case unless Shift is held), Return and Enter "\r",
// Backspace "\b", Tab "\t", Escape "\x1b", Delete "\x7f"; others nothing.
QString keyText(const HostKey& aKey);
