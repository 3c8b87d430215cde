#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The parser's own types for each encoding, named here; the parser includes this, not the reverse.
struct MarkupAttribute;
class MarkupHandler;
struct Utf8MarkupAttribute;
class Utf8MarkupHandler;

// Inside the markup parser and the plain text built from it: code that reads a body as text
// (UTF-16) or in UTF-8, written once for both.
namespace MarkupEncodings {

// The two encodings the parser reads. Every character that decides the structure is ASCII, which
// both hold as one code unit; any other character is a name character and text, whether it takes
// one code unit or several. So both read a body alike and report the same text in their encoding.
struct Utf16 {
    using View = QStringView;
    using Text = QString;
    using Attribute = MarkupAttribute;
    using Handler = MarkupHandler;
    static char32_t at(View in, qsizetype i) { return in.at(i).unicode(); }
    static View mid(View in, qsizetype from, qsizetype n = -1) { return in.mid(from, n); }
    static qsizetype find(View in, char c, qsizetype from = 0) { return in.indexOf(QLatin1Char(c), from); }
    static qsizetype find(View in, QLatin1String what, qsizetype from) { return in.indexOf(what, from); }
    static void append(Text& out, View text) { out += text; }
    static void append(Text& out, char c) { out += QLatin1Char(c); }
    static void append(Text& out, QLatin1String text) { out += text; }
    static void appendCode(Text& out, char32_t code) { out += QString::fromUcs4(&code, 1); }
    static View crLf() { return u"\r\n"; }
};

struct Utf8 {
    using View = QByteArrayView;
    using Text = QByteArray;
    using Attribute = Utf8MarkupAttribute;
    using Handler = Utf8MarkupHandler;
    static char32_t at(View in, qsizetype i) { return static_cast<uchar>(in.at(i)); }
    // As QStringView::mid: from at most the end, n at most what is left, -1 for all of it.
    static View mid(View in, qsizetype from, qsizetype n = -1) {
        from = qMin(from, in.size());
        return in.sliced(from, n < 0 ? in.size() - from : qMin(n, in.size() - from));
    }
    static qsizetype find(View in, char c, qsizetype from = 0) { return in.indexOf(c, from); }
    static qsizetype find(View in, QLatin1String what, qsizetype from) {
        return in.indexOf(QByteArrayView(what.data(), what.size()), from);
    }
    static void append(Text& out, View text) { out.append(text); }
    static void append(Text& out, char c) { out.append(c); }
    static void append(Text& out, QLatin1String text) { out.append(text.data(), text.size()); }
    static void appendCode(Text& out, char32_t code) {
        if (code < 0x80) {
            out.append(static_cast<char>(code));
        } else if (code < 0x800) {
            out.append(static_cast<char>(0xC0 | (code >> 6)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.append(static_cast<char>(0xE0 | (code >> 12)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.append(static_cast<char>(0xF0 | (code >> 18)));
            out.append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    static View crLf() { return "\r\n"; }
};

// Whether the view holds this ASCII text.
template <typename Enc> bool equals(typename Enc::View view, QLatin1String text) {
    if (view.size() != text.size())
        return false;
    for (qsizetype i = 0; i < view.size(); ++i) {
        if (Enc::at(view, i) != static_cast<uchar>(text.at(i).toLatin1()))
            return false;
    }
    return true;
}

} // namespace MarkupEncodings
