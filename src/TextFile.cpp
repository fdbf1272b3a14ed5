#include "TextFile.h"

#include <QStringList>

std::vector<TextLine> meaningfulLines(const std::string& aText)
{
    std::vector<TextLine> result;
    const QStringList lines = QString::fromUtf8(aText.data(), qsizetype(aText.size())).split(u'\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        QString line = lines[index];
        qsizetype hash = line.indexOf(u'#');
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (!line.isEmpty())
            result.push_back(TextLine{int(index) + 1, line});
    }
    return result;
}

std::string lineMistake(const std::string& aName, int aLine, const QString& aWhat)
{
    return aName + ":" + std::to_string(aLine) + ": " + aWhat.toStdString();
}

std::optional<long long> parseNumber(const QString& aText, long long aMin, long long aMax)
{
    bool ok = false;
    long long value = 0;
    if (aText.startsWith(QLatin1String("0x")) || aText.startsWith(QLatin1String("0X")))
        value = aText.mid(2).toLongLong(&ok, 16);
    else if (!aText.isEmpty() && (aText[0].isDigit() || aText[0] == u'-'))
        value = aText.toLongLong(&ok, 10);
    if (!ok || value < aMin || value > aMax)
        return std::nullopt;
    return value;
}
