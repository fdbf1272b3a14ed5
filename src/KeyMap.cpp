#include "KeyMap.h"

#include <QKeySequence>
#include "TextFile.h"

int KeyMap::builtIn(int aQtKey)
{
    if (aQtKey >= Qt::Key_Space && aQtKey <= Qt::Key_QuoteLeft)
        return aQtKey;
    switch (aQtKey) {
    case Qt::Key_Backspace:
        return 0x1000002;
    case Qt::Key_Return:
        return 0x1000001;
    case Qt::Key_Left:
        return 0x1000003;
    case Qt::Key_Up:
        return 0x1000005;
    case Qt::Key_Right:
        return 0x1000004;
    case Qt::Key_Down:
        return 0x1000006;
    default:
        return kOtherKey;
    }
}

int KeyMap::translate(int aQtKey) const
{
    auto it = entries.find(aQtKey);
    return it != entries.end() ? it->second : builtIn(aQtKey);
}

std::optional<HostKey> hostKeyFromName(const QString& aName)
{
    if (aName.isEmpty())
        return std::nullopt;
    if (aName.size() > 1 && aName[0].isDigit()) {
        std::optional<long long> number = parseNumber(aName, 1, Qt::Key_unknown - 1);
        if (!number)
            return std::nullopt;
        return HostKey{int(*number), Qt::NoModifier};
    }
    // "," alone is a key, not a list of two empty ones.
    QKeySequence sequence = aName == QLatin1String(",") ? QKeySequence(Qt::Key_Comma)
                                                         : QKeySequence::fromString(aName, QKeySequence::PortableText);
    if (sequence.count() != 1)
        return std::nullopt;
    QKeyCombination combination = sequence[0];
    if (combination.key() == Qt::Key_unknown || combination.key() == 0)
        return std::nullopt;
    return HostKey{int(combination.key()), combination.keyboardModifiers()};
}

std::optional<int> applicationKeyFromName(const QString& aName)
{
    static const struct {
        const char* name;
        int code;
    } kNames[] = {
        {"left", 0x1000003},   {"right", 0x1000004},     {"up", 0x1000005}, {"down", 0x1000006},
        {"return", 0x1000001}, {"backspace", 0x1000002}, {"other", KeyMap::kOtherKey},
    };
    for (const auto& entry : kNames) {
        if (aName.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.code;
    }
    if (aName.size() == 1) {
        char16_t c = aName[0].toUpper().unicode();
        if (c >= 0x20 && c <= 0x60)
            return int(c);
        return std::nullopt;
    }
    std::optional<long long> number = parseNumber(aName, -0x80000000LL, 0xFFFFFFFFLL);
    if (!number)
        return std::nullopt;
    return int(static_cast<unsigned int>(*number));
}

std::optional<std::string> KeyMap::parse(const std::string& aText, const std::string& aName)
{
    std::map<int, int> parsed = entries;
    std::map<int, int> lineOf;
    for (const TextLine& textLine : meaningfulLines(aText)) {
        const int lineNumber = textLine.number;
        auto error = [&](const QString& aWhat) { return lineMistake(aName, lineNumber, aWhat); };
        const QString& line = textLine.text;
        // The first "=" after the host key separates the two sides, so "="
        // itself can be remapped ("= = Return").
        qsizetype equals = line.indexOf(u'=', 1);
        if (equals < 0)
            return error(QStringLiteral("expected 'host key = application key', found '%1'").arg(line));
        QString host = line.left(equals).trimmed();
        QString application = line.mid(equals + 1).trimmed();
        std::optional<HostKey> hostKey = hostKeyFromName(host);
        if (!hostKey)
            return error(QStringLiteral("unknown host key '%1'").arg(host));
        if (hostKey->modifiers != Qt::NoModifier)
            return error(QStringLiteral("'%1': a host key is a single key, without modifiers").arg(host));
        if (application.isEmpty())
            return error(QStringLiteral("no application key for '%1'").arg(host));
        std::optional<int> code = applicationKeyFromName(application);
        if (!code)
            return error(QStringLiteral("unknown application key '%1'").arg(application));
        auto earlier = lineOf.find(hostKey->key);
        if (earlier != lineOf.end())
            return error(QStringLiteral("'%1' is mapped already on line %2").arg(host).arg(earlier->second));
        lineOf[hostKey->key] = lineNumber;
        parsed[hostKey->key] = *code;
    }
    entries = std::move(parsed);
    return std::nullopt;
}
