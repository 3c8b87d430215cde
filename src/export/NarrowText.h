#pragma once

#include <QByteArray>
#include <QString>

// Text in the system's narrow code page, as transcripts are written: the ANSI code page on Windows,
// elsewhere the locale's character set (UTF-8 on every current system; the C and POSIX locales
// count as UTF-8). A character the code page cannot hold becomes "?".
namespace NarrowText {

QByteArray encode(const QString& text);
// The same for a named character set ("UTF-8", "ISO-8859-1", "KOI8-R", ...).
QByteArray encode(const QString& text, const QByteArray& charset);

// The character set in force, as the C library names it.
QByteArray systemCharset();
// Whether that is UTF-8, which text in UTF-8 is written in as it is.
bool systemIsUtf8();

// Each character beyond the BMP (a surrogate pair) as one "?", which is what an ANSI code page
// makes of it; everything else, lone surrogates included, as it is. One pass.
QString withPairsAsQuestionMarks(QStringView text);

} // namespace NarrowText
