#include "EventScript.h"

#include <QStringList>
#include <algorithm>
#include <iterator>

#include "TextFile.h"

QString keyText(const HostKey& aKey)
{
    int key = aKey.key;
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QString(QChar(aKey.modifiers & Qt::ShiftModifier ? key : key + 0x20));
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return QString(QChar(key));
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QStringLiteral("\r");
    case Qt::Key_Backspace:
        return QStringLiteral("\b");
    case Qt::Key_Tab:
        return QStringLiteral("\t");
    case Qt::Key_Escape:
        return QStringLiteral("\x1b");
    case Qt::Key_Delete:
        return QStringLiteral("\x7f");
    default:
        return QString();
    }
}

std::optional<std::string> parseEventScript(const std::string& aText, const std::string& aName,
                                            std::vector<ScriptEvent>& aEvents)
{
    std::vector<ScriptEvent> events;
    for (const TextLine& textLine : meaningfulLines(aText)) {
        const int lineNumber = textLine.number;
        auto error = [&](const QString& aWhat) { return lineMistake(aName, lineNumber, aWhat); };
        const QString line = textLine.text.simplified();
        QStringList words = line.split(u' ');
        const QString& command = words[0];
        ScriptEvent event;
        event.line = lineNumber;
        if (command == QLatin1String("wait")) {
            std::optional<long long> ms = words.size() == 2 ? parseNumber(words[1], 0, 0x7FFFFFFF) : std::nullopt;
            if (!ms)
                return error(QStringLiteral("expected 'wait MS', found '%1'").arg(line));
            event.kind = ScriptEvent::Wait;
            event.milliseconds = int(*ms);
            events.push_back(event);
        } else if (command == QLatin1String("key")) {
            // "key press NAME", "key release NAME" or "key NAME"; a name may
            // hold spaces ("Page Up").
            bool press = words.size() > 2 && words[1] == QLatin1String("press");
            bool release = words.size() > 2 && words[1] == QLatin1String("release");
            QString name = words.mid(press || release ? 2 : 1).join(u' ');
            if (name.isEmpty())
                return error(QStringLiteral("expected 'key [press|release] NAME'"));
            std::optional<HostKey> key = hostKeyFromName(name);
            if (!key)
                return error(QStringLiteral("unknown key '%1'").arg(name));
            event.key = *key;
            event.text = keyText(*key);
            if (!release) {
                event.kind = ScriptEvent::KeyPress;
                events.push_back(event);
            }
            if (!press) {
                event.kind = ScriptEvent::KeyRelease;
                events.push_back(event);
            }
        } else if (command == QLatin1String("pointer")) {
            static const struct {
                const char* word;
                ScriptEvent::Kind kind;
            } kActions[] = {{"down", ScriptEvent::PointerDown},
                            {"move", ScriptEvent::PointerMove},
                            {"up", ScriptEvent::PointerUp}};
            const auto* action = std::find_if(std::begin(kActions), std::end(kActions), [&](const auto& a) {
                return words.size() > 1 && words[1] == QLatin1String(a.word);
            });
            std::optional<long long> x = words.size() == 4 ? parseNumber(words[2], -100000, 100000) : std::nullopt;
            std::optional<long long> y = words.size() == 4 ? parseNumber(words[3], -100000, 100000) : std::nullopt;
            if (action == std::end(kActions) || !x || !y)
                return error(QStringLiteral("expected 'pointer down|move|up X Y', found '%1'").arg(line));
            event.kind = action->kind;
            event.x = int(*x);
            event.y = int(*y);
            events.push_back(event);
        } else if (command == QLatin1String("screenshot")) {
            if (words.size() < 2)
                return error(QStringLiteral("expected 'screenshot FILE'"));
            event.kind = ScriptEvent::Screenshot;
            event.file = words.mid(1).join(u' ');
            events.push_back(event);
        } else if (command == QLatin1String("quit")) {
            if (words.size() != 1)
                return error(QStringLiteral("'quit' takes nothing after it"));
            event.kind = ScriptEvent::Quit;
            events.push_back(event);
        } else {
            return error(QStringLiteral("unknown event '%1' (wait, key, pointer, screenshot, quit)").arg(command));
        }
    }
    aEvents = std::move(events);
    return std::nullopt;
}
