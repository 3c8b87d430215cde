#include "NarrowText.h"

#include <QStringEncoder>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#endif

namespace NarrowText {

QByteArray systemCharset() {
#ifdef Q_OS_WIN
    return "CP" + QByteArray::number(GetACP());
#else
    return QByteArray(nl_langinfo(CODESET));
#endif
}

QString withPairsAsQuestionMarks(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += QLatin1Char('?');
            ++i;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

static bool isUtf8(const QByteArray& charset) {
    const QByteArray name = charset.toUpper();
    // The C and POSIX locales name plain ASCII; our transcripts take UTF-8 there.
    // CP65001 is Windows' "use Unicode UTF-8 for worldwide language support".
    return name.isEmpty() || name == "UTF-8" || name == "UTF8" || name == "CP65001" ||
           name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII";
}

#ifndef Q_OS_WIN
// One character at a time, so that each one the charset lacks becomes "?".
static QByteArray encodeWithIconv(const QString& text, const QByteArray& charset) {
    iconv_t converter = iconv_open(charset.constData(), "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return text.toUtf8();
    QByteArray out;
    out.reserve(text.size());
    char buffer[16];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        QByteArray character = text.mid(i, pair ? 2 : 1).toUtf8();
        if (pair)
            ++i;
        char* in = character.data();
        size_t inLeft = static_cast<size_t>(character.size());
        char* result = buffer;
        size_t outLeft = sizeof buffer;
        if (iconv(converter, &in, &inLeft, &result, &outLeft) == static_cast<size_t>(-1))
            out += '?';
        else
            out.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(converter);
    return out;
}
#endif

QByteArray encode(const QString& text, const QByteArray& charset) {
    if (isUtf8(charset))
        return text.toUtf8();
#ifdef Q_OS_WIN
    // No ANSI code page holds a character beyond the BMP: it becomes one "?", not one per half.
    const QString units = withPairsAsQuestionMarks(text);
    const auto wide = reinterpret_cast<LPCWCH>(units.utf16());
    const int size = static_cast<int>(units.size());
    // "?" for what the code page lacks, never a look-alike ("é" is not "e" in code page 1251).
    constexpr DWORD kFlags = WC_NO_BEST_FIT_CHARS;
    // "CP1252" names code page 1252; the system's names the ANSI code page.
    const UINT codePage = charset.toUpper().startsWith("CP") ? charset.mid(2).toUInt() : CP_ACP;
    const int length =
        size == 0 ? 0 : WideCharToMultiByte(codePage, kFlags, wide, size, nullptr, 0, "?", nullptr);
    QByteArray out(length, Qt::Uninitialized);
    if (length > 0 &&
        WideCharToMultiByte(codePage, kFlags, wide, size, out.data(), length, "?", nullptr) == length)
        return out;
    // A code page the call refuses: never an empty transcript; what is not ASCII becomes "?".
    out.clear();
    for (const QChar c : units)
        out += c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?';
    return out;
#else
    return encodeWithIconv(text, charset);
#endif
}

QByteArray encode(const QString& text) {
    static const QByteArray charset = systemCharset();
    return encode(text, charset);
}

bool systemIsUtf8() {
    static const bool utf8 = isUtf8(systemCharset());
    return utf8;
}

} // namespace NarrowText
