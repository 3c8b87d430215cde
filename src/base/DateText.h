#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// Dates as text, the one conversion used for chat headers and the stored dates: the user's short
// date with a four-digit year, a blank and the long time without its time zone. The time is left out
// at exactly midnight, the date at the zero date (30 December 1899).
namespace DateText {

// The user's locale for dates, from LC_ALL, LC_TIME or LANG; the C and POSIX locales count as
// English (United States).
QLocale userLocale();

QString dateFormat(const QLocale& locale);
QString timeFormat(const QLocale& locale);

QDate zeroDate();

QString toText(const QDateTime& value);
QString toText(const QDateTime& value, const QLocale& locale);

// Reads back what toText writes, with or without the time; anything else gives nothing.
std::optional<QDateTime> fromText(const QString& text);
std::optional<QDateTime> fromText(const QString& text, const QLocale& locale);

} // namespace DateText
