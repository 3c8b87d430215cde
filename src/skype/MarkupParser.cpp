#include "MarkupParser.h"

#include <algorithm>

namespace {

bool isNameStart(QChar c) {
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char(':') || c.unicode() >= 0x80;
}

bool isNameChar(QChar c) {
    return isNameStart(c) || c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.');
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

bool isXmlChar(char32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

int digitValue(QChar c, bool hex) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (hex && u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (hex && u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

class Reader {
public:
    Reader(QStringView input, MarkupHandler& handler)
        : m_in(input)
        , m_handler(handler) {}

    bool run() {
        while (m_pos < m_in.size()) {
            const QChar c = m_in.at(m_pos);
            if (c == QLatin1Char('<')) {
                if (!markup())
                    return false;
            } else if (c == QLatin1Char('&')) {
                QString decoded;
                if (!entity(decoded))
                    return false;
                m_handler.text(decoded);
            } else {
                const qsizetype start = m_pos;
                while (m_pos < m_in.size() && m_in.at(m_pos) != QLatin1Char('<') &&
                       m_in.at(m_pos) != QLatin1Char('&'))
                    ++m_pos;
                m_handler.text(m_in.mid(start, m_pos - start));
            }
        }
        return m_open.empty();
    }

private:
    bool startsWith(QLatin1String what) const { return m_in.mid(m_pos).startsWith(what); }

    // Skips to just behind `end`; false when it never comes.
    bool skipPast(QLatin1String end) {
        const qsizetype found = m_in.indexOf(end, m_pos);
        if (found < 0)
            return false;
        m_pos = found + end.size();
        return true;
    }

    void skipBlanks() {
        while (m_pos < m_in.size() && isBlank(m_in.at(m_pos)))
            ++m_pos;
    }

    QStringView name() {
        const qsizetype start = m_pos;
        if (m_pos >= m_in.size() || !isNameStart(m_in.at(m_pos)))
            return QStringView();
        while (m_pos < m_in.size() && isNameChar(m_in.at(m_pos)))
            ++m_pos;
        return m_in.mid(start, m_pos - start);
    }

    bool entity(QString& out) {
        // A reference is short: looking further than "&#x10FFFF;" would make a body of many '&'
        // cost the square of its length.
        const qsizetype semicolon = m_in.mid(m_pos, 13).indexOf(QLatin1Char(';'));
        if (semicolon < 0)
            return false;
        if (!decodeEntity(m_in.mid(m_pos + 1, semicolon - 1), out))
            return false;
        m_pos += semicolon + 1;
        return true;
    }

    bool markup() {
        // Most tags are plain start tags: only a few characters decide.
        const QChar next = m_pos + 1 < m_in.size() ? m_in.at(m_pos + 1) : QChar();
        if (next == QLatin1Char('/'))
            return endTag();
        if (next != QLatin1Char('!') && next != QLatin1Char('?'))
            return startTag();
        if (startsWith(QLatin1String("<!--")))
            return skipPast(QLatin1String("-->"));
        if (startsWith(QLatin1String("<![CDATA["))) {
            const qsizetype start = m_pos + 9;
            if (!skipPast(QLatin1String("]]>")))
                return false;
            m_handler.text(m_in.mid(start, m_pos - 3 - start));
            return true;
        }
        if (next == QLatin1Char('?'))
            return skipPast(QLatin1String("?>"));
        return false;
    }

    bool endTag() {
        m_pos += 2;
        const QStringView tag = name();
        skipBlanks();
        if (tag.isEmpty() || m_pos >= m_in.size() || m_in.at(m_pos) != QLatin1Char('>'))
            return false;
        ++m_pos;
        if (m_open.empty() || m_open.back() != tag)
            return false;
        m_open.pop_back();
        m_handler.endElement(tag);
        return true;
    }

    bool startTag() {
        ++m_pos;
        const QStringView tag = name();
        if (tag.isEmpty())
            return false;
        m_attributes.clear();
        for (;;) {
            const qsizetype before = m_pos;
            skipBlanks();
            if (m_pos >= m_in.size())
                return false;
            const QChar c = m_in.at(m_pos);
            if (c == QLatin1Char('>')) {
                ++m_pos;
                m_open.push_back(tag);
                m_handler.startElement(tag, m_attributes);
                return true;
            }
            if (c == QLatin1Char('/')) {
                if (m_pos + 1 >= m_in.size() || m_in.at(m_pos + 1) != QLatin1Char('>'))
                    return false;
                m_pos += 2;
                m_handler.startElement(tag, m_attributes);
                m_handler.endElement(tag);
                return true;
            }
            if (m_pos == before) // attributes are separated by blanks
                return false;
            if (!attribute())
                return false;
        }
    }

    bool attribute() {
        const QStringView key = name();
        if (key.isEmpty())
            return false;
        skipBlanks();
        if (m_pos >= m_in.size() || m_in.at(m_pos) != QLatin1Char('='))
            return false;
        ++m_pos;
        skipBlanks();
        if (m_pos >= m_in.size())
            return false;
        const QChar quote = m_in.at(m_pos);
        if (quote != QLatin1Char('"') && quote != QLatin1Char('\''))
            return false;
        ++m_pos;
        const qsizetype start = m_pos;
        while (m_pos < m_in.size() && m_in.at(m_pos) != quote) {
            const QChar c = m_in.at(m_pos);
            if (c == QLatin1Char('<'))
                return false;
            if (c == QLatin1Char('&')) {
                m_scratch.clear();
                if (!entity(m_scratch))
                    return false;
                continue;
            }
            ++m_pos;
        }
        if (m_pos >= m_in.size())
            return false;
        const QStringView raw = m_in.mid(start, m_pos - start);
        ++m_pos;
        m_attributes.push_back({key, raw});
        return true;
    }

    QStringView m_in;
    MarkupHandler& m_handler;
    qsizetype m_pos = 0;
    std::vector<QStringView> m_open;
    std::vector<MarkupAttribute> m_attributes;
    QString m_scratch;
};

} // namespace

bool decodeEntity(QStringView reference, QString& out) {
    if (reference == QLatin1String("lt"))
        out += QLatin1Char('<');
    else if (reference == QLatin1String("gt"))
        out += QLatin1Char('>');
    else if (reference == QLatin1String("amp"))
        out += QLatin1Char('&');
    else if (reference == QLatin1String("quot"))
        out += QLatin1Char('"');
    else if (reference == QLatin1String("apos"))
        out += QLatin1Char('\'');
    else if (reference.size() >= 2 && reference.at(0) == QLatin1Char('#')) {
        const bool hex = reference.at(1) == QLatin1Char('x');
        const QStringView digits = reference.mid(hex ? 2 : 1);
        if (digits.isEmpty() || digits.size() > 8)
            return false;
        char32_t code = 0;
        for (const QChar d : digits) {
            const int value = digitValue(d, hex);
            if (value < 0)
                return false;
            code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
        }
        if (!isXmlChar(code))
            return false;
        out += QString::fromUcs4(&code, 1);
    } else {
        return false;
    }
    return true;
}

QString MarkupAttribute::value() const {
    const auto special = [](QChar c) {
        return c == QLatin1Char('&') || c == QLatin1Char('\r') || c == QLatin1Char('\n') ||
               c == QLatin1Char('\t');
    };
    if (std::none_of(raw.begin(), raw.end(), special))
        return raw.toString();
    // As XML reads a value: a written line break (CR LF, CR or LF) or tab is one space, while a
    // character reference such as "&#10;" stands for its character. The parser checked every
    // reference, so each one decodes.
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('&')) {
            const qsizetype semicolon = raw.indexOf(QLatin1Char(';'), i);
            if (semicolon > i && decodeEntity(raw.mid(i + 1, semicolon - i - 1), out)) {
                i = semicolon;
                continue;
            }
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t')) {
            if (c == QLatin1Char('\r') && i + 1 < raw.size() && raw.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1Char(' ');
            continue;
        }
        out += c;
    }
    return out;
}

bool parseMarkup(QStringView markup, MarkupHandler& handler) {
    return Reader(markup, handler).run();
}
