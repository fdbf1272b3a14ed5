// The small line-based text files of the runtime (keymap, events script,
// settings file): UTF-8; "#" starts a comment; spaces around a line do not
// count; blank lines are skipped. Mistakes are reported as "NAME:LINE: ...".
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

struct TextLine {
    int number;    // from 1
    QString text;  // without comment and surrounding spaces, not empty
};

std::vector<TextLine> meaningfulLines(const std::string& aText);

// "NAME:LINE: what".
std::string lineMistake(const std::string& aName, int aLine, const QString& aWhat);

// A whole number in decimal or 0x hex within [aMin, aMax], or nothing.
std::optional<long long> parseNumber(const QString& aText, long long aMin, long long aMax);
