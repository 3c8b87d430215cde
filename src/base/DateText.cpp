#include "DateText.h"

namespace DateText {

QLocale userLocale() {
    QByteArray name;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        name = qgetenv(variable);
        if (!name.isEmpty())
            break;
    }
    // "de_DE.UTF-8@euro" names the locale "de_DE".
    const qsizetype cut = name.indexOf('.') >= 0 ? name.indexOf('.') : name.indexOf('@');
    if (cut >= 0)
        name.truncate(cut);
    const QLocale unitedStates(QLocale::English, QLocale::UnitedStates);
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    // There the user's regional settings come from the system, not from the environment.
    if (name.isEmpty()) {
        const QLocale system = QLocale::system();
        return system.language() == QLocale::C ? unitedStates : system;
    }
#endif
    if (name.isEmpty() || name == "C" || name == "POSIX")
        return unitedStates;
    return QLocale(QString::fromLatin1(name));
}

// Replaces every unquoted run of `letter` in a date-time pattern.
static QString replaceRuns(const QString& pattern, QChar letter, const QString& replacement) {
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != letter) {
            result += c;
            continue;
        }
        while (i + 1 < pattern.size() && pattern.at(i + 1) == letter)
            ++i;
        result += replacement;
    }
    return result;
}

QString dateFormat(const QLocale& locale) {
    return replaceRuns(locale.dateFormat(QLocale::ShortFormat), QLatin1Char('y'), QStringLiteral("yyyy"));
}

// A time pattern without its time zone (a transcript's times are local) and without what stood
// around the zone alone: the brackets that held it ("H:mm:ss (t)", "APh:mm:ss [t]") and the comma or
// blanks that parted it from the time ("h:mm:ss AP, t", "t HH:mm:ss").
static QString withoutZone(const QString& pattern) {
    const auto isSeparator = [](QChar c) {
        return c.isSpace() || c == QLatin1Char(',') || c == QChar(0x060C); // the Arabic comma too
    };
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t')) {
            result += c;
            continue;
        }
        while (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('t'))
            ++i;
        const QChar next = i + 1 < pattern.size() ? pattern.at(i + 1) : QChar();
        if (!result.isEmpty() && ((result.back() == QLatin1Char('(') && next == QLatin1Char(')')) ||
                                  (result.back() == QLatin1Char('[') && next == QLatin1Char(']')))) {
            result.chop(1);
            ++i;
        }
        while (!result.isEmpty() && isSeparator(result.back()))
            result.chop(1);
        // At the start, the separator after it goes instead.
        if (result.isEmpty()) {
            while (i + 1 < pattern.size() && isSeparator(pattern.at(i + 1)))
                ++i;
        }
    }
    return result.simplified();
}

QString timeFormat(const QLocale& locale) {
    return withoutZone(locale.timeFormat(QLocale::LongFormat));
}

QDate zeroDate() {
    return QDate(1899, 12, 30);
}

QString toText(const QDateTime& value) {
    return toText(value, userLocale());
}

QString toText(const QDateTime& value, const QLocale& locale) {
    const QString time = locale.toString(value.time(), timeFormat(locale));
    if (value.date() == zeroDate())
        return time;
    const QString date = locale.toString(value.date(), dateFormat(locale));
    if (value.time() == QTime(0, 0))
        return date;
    return date % QLatin1Char(' ') % time;
}

std::optional<QDateTime> fromText(const QString& text) {
    return fromText(text, userLocale());
}

std::optional<QDateTime> fromText(const QString& text, const QLocale& locale) {
    const QString date = dateFormat(locale);
    const QString time = timeFormat(locale);
    QDateTime both = locale.toDateTime(text, date % QLatin1Char(' ') % time);
    if (both.isValid())
        return both;
    const QDate dateOnly = locale.toDate(text, date);
    if (dateOnly.isValid())
        return QDateTime(dateOnly, QTime(0, 0));
    const QTime timeOnly = locale.toTime(text, time);
    if (timeOnly.isValid())
        return QDateTime(zeroDate(), timeOnly);
    return std::nullopt;
}

} // namespace DateText
