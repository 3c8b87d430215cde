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

QString timeFormat(const QLocale& locale) {
    return replaceRuns(locale.timeFormat(QLocale::LongFormat), QLatin1Char('t'), QString()).simplified();
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
