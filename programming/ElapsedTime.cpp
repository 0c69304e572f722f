#include "programming/ElapsedTime.h"

#include <QTime>
#include <algorithm>

namespace {

// The long time pattern reduced to what a duration has: the hour, minute and
// second fields and the separators between them.
QString DurationPattern(const QLocale& locale)
{
    const QString pattern = locale.timeFormat(QLocale::LongFormat);
    QString kept;
    bool inQuote = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\'') inQuote = !inQuote;
        if (!inQuote && (c == u't' || c == u'A' || c == u'a' || c == u'P' || c == u'p')) continue;
        kept += c;
    }
    kept = kept.trimmed();
    // Separators left dangling by a removed field ("h:mm:ss AP" -> "h:mm:ss").
    while (!kept.isEmpty() && !kept.back().isLetter() && kept.back() != u'\'') kept.chop(1);
    if (!kept.contains(u'h', Qt::CaseInsensitive)) return QStringLiteral("HH:mm:ss");
    return kept;
}

} // namespace

QString FormatElapsed(std::int64_t milliseconds, const QLocale& locale)
{
    const std::int64_t totalSeconds = std::max<std::int64_t>(0, milliseconds) / 1000;
    const std::int64_t hours = totalSeconds / 3600;
    const QTime minutesAndSeconds(0, static_cast<int>(totalSeconds / 60 % 60), static_cast<int>(totalSeconds % 60));

    // The hour field becomes a quoted literal, so hours are not wrapped at 24.
    const QString pattern = DurationPattern(locale);
    QString out;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            const qsizetype close = pattern.indexOf(u'\'', i + 1);
            const qsizetype end = close < 0 ? pattern.size() : close + 1;
            out += pattern.mid(i, end - i);
            i = end;
            continue;
        }
        if (c == u'h' || c == u'H') {
            qsizetype run = 1;
            while (i + run < pattern.size() && pattern[i + run].toLower() == u'h') ++run;
            out += u'\'' + QString::number(hours).rightJustified(run >= 2 ? 2 : 1, u'0') + u'\'';
            i += run;
            continue;
        }
        out += c;
        ++i;
    }
    return minutesAndSeconds.toString(out);
}
