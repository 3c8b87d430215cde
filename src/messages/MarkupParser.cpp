#include "MarkupParser.h"

#include "MarkupEncodings.h"

#include <algorithm>

namespace {

// ASCII letters; every character beyond ASCII counts, as XML's name characters mostly are.
bool isNameStart(char32_t c) {
    return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(char32_t c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isBlank(char32_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isXmlChar(char32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

int digitValue(char32_t u, bool hex) {
    if (u >= '0' && u <= '9')
        return static_cast<int>(u - '0');
    if (hex && u >= 'a' && u <= 'f')
        return static_cast<int>(u - 'a' + 10);
    if (hex && u >= 'A' && u <= 'F')
        return static_cast<int>(u - 'A' + 10);
    return -1;
}

template <typename Enc> class Reader {
public:
    using View = typename Enc::View;
    using Text = typename Enc::Text;

    Reader(View input, typename Enc::Handler& handler)
        : m_in(input)
        , m_handler(handler) {}

    bool run() {
        while (m_pos < m_in.size()) {
            const char32_t c = at(m_pos);
            if (c == '<') {
                if (!markup())
                    return false;
            } else if (c == '&') {
                Text decoded;
                if (!entity(decoded))
                    return false;
                m_handler.text(decoded);
            } else {
                const qsizetype start = m_pos;
                while (m_pos < m_in.size() && at(m_pos) != '<' && at(m_pos) != '&')
                    ++m_pos;
                m_handler.text(Enc::mid(m_in, start, m_pos - start));
            }
        }
        return m_open.empty();
    }

private:
    char32_t at(qsizetype i) const { return Enc::at(m_in, i); }

    bool startsWith(QLatin1String what) const {
        return MarkupEncodings::equals<Enc>(Enc::mid(m_in, m_pos, what.size()), what);
    }

    // Skips to just behind `end`; false when it never comes.
    bool skipPast(QLatin1String end) {
        const qsizetype found = Enc::find(m_in, end, m_pos);
        if (found < 0)
            return false;
        m_pos = found + end.size();
        return true;
    }

    void skipBlanks() {
        while (m_pos < m_in.size() && isBlank(at(m_pos)))
            ++m_pos;
    }

    View name() {
        const qsizetype start = m_pos;
        if (m_pos >= m_in.size() || !isNameStart(at(m_pos)))
            return View();
        while (m_pos < m_in.size() && isNameChar(at(m_pos)))
            ++m_pos;
        return Enc::mid(m_in, start, m_pos - start);
    }

    bool entity(Text& out) {
        // A reference is short: looking further than "&#x10FFFF;" would make a body of many '&'
        // cost the square of its length. (A character beyond ASCII before the ';' fails the
        // reference however many code units it takes.)
        const qsizetype semicolon = Enc::find(Enc::mid(m_in, m_pos, 13), ';');
        if (semicolon < 0)
            return false;
        if (!decodeEntity(Enc::mid(m_in, m_pos + 1, semicolon - 1), out))
            return false;
        m_pos += semicolon + 1;
        return true;
    }

    bool markup() {
        // Most tags are plain start tags: only a few characters decide.
        const char32_t next = m_pos + 1 < m_in.size() ? at(m_pos + 1) : 0;
        if (next == '/')
            return endTag();
        if (next != '!' && next != '?')
            return startTag();
        if (startsWith(QLatin1String("<!--")))
            return skipPast(QLatin1String("-->"));
        if (startsWith(QLatin1String("<![CDATA["))) {
            const qsizetype start = m_pos + 9;
            if (!skipPast(QLatin1String("]]>")))
                return false;
            m_handler.text(Enc::mid(m_in, start, m_pos - 3 - start));
            return true;
        }
        if (next == '?')
            return skipPast(QLatin1String("?>"));
        return false;
    }

    bool endTag() {
        m_pos += 2;
        const View tag = name();
        skipBlanks();
        if (tag.isEmpty() || m_pos >= m_in.size() || at(m_pos) != '>')
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
        const View tag = name();
        if (tag.isEmpty())
            return false;
        m_attributes.clear();
        for (;;) {
            const qsizetype before = m_pos;
            skipBlanks();
            if (m_pos >= m_in.size())
                return false;
            const char32_t c = at(m_pos);
            if (c == '>') {
                ++m_pos;
                m_open.push_back(tag);
                m_handler.startElement(tag, m_attributes);
                return true;
            }
            if (c == '/') {
                if (m_pos + 1 >= m_in.size() || at(m_pos + 1) != '>')
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
        const View key = name();
        if (key.isEmpty())
            return false;
        skipBlanks();
        if (m_pos >= m_in.size() || at(m_pos) != '=')
            return false;
        ++m_pos;
        skipBlanks();
        if (m_pos >= m_in.size())
            return false;
        const char32_t quote = at(m_pos);
        if (quote != '"' && quote != '\'')
            return false;
        ++m_pos;
        const qsizetype start = m_pos;
        while (m_pos < m_in.size() && at(m_pos) != quote) {
            const char32_t c = at(m_pos);
            if (c == '<')
                return false;
            if (c == '&') {
                m_scratch.clear();
                if (!entity(m_scratch))
                    return false;
                continue;
            }
            ++m_pos;
        }
        if (m_pos >= m_in.size())
            return false;
        const View raw = Enc::mid(m_in, start, m_pos - start);
        ++m_pos;
        m_attributes.push_back({key, raw});
        return true;
    }

    View m_in;
    typename Enc::Handler& m_handler;
    qsizetype m_pos = 0;
    std::vector<View> m_open;
    std::vector<typename Enc::Attribute> m_attributes;
    Text m_scratch;
};

template <typename Enc> bool decode(typename Enc::View reference, typename Enc::Text& out) {
    if (MarkupEncodings::equals<Enc>(reference, QLatin1String("lt")))
        Enc::append(out, '<');
    else if (MarkupEncodings::equals<Enc>(reference, QLatin1String("gt")))
        Enc::append(out, '>');
    else if (MarkupEncodings::equals<Enc>(reference, QLatin1String("amp")))
        Enc::append(out, '&');
    else if (MarkupEncodings::equals<Enc>(reference, QLatin1String("quot")))
        Enc::append(out, '"');
    else if (MarkupEncodings::equals<Enc>(reference, QLatin1String("apos")))
        Enc::append(out, '\'');
    else if (reference.size() >= 2 && Enc::at(reference, 0) == '#') {
        const bool hex = Enc::at(reference, 1) == 'x';
        const typename Enc::View digits = Enc::mid(reference, hex ? 2 : 1);
        if (digits.isEmpty() || digits.size() > 8)
            return false;
        char32_t code = 0;
        for (qsizetype i = 0; i < digits.size(); ++i) {
            const int value = digitValue(Enc::at(digits, i), hex);
            if (value < 0)
                return false;
            code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
        }
        if (!isXmlChar(code))
            return false;
        Enc::appendCode(out, code);
    } else {
        return false;
    }
    return true;
}

template <typename Enc> typename Enc::Text valueOf(typename Enc::View raw) {
    const auto special = [](char32_t c) { return c == '&' || c == '\r' || c == '\n' || c == '\t'; };
    bool plain = true;
    for (qsizetype i = 0; i < raw.size() && plain; ++i)
        plain = !special(Enc::at(raw, i));
    typename Enc::Text out;
    if (plain) {
        Enc::append(out, raw);
        return out;
    }
    // As XML reads a value: a written line break (CR LF, CR or LF) or tab is one space, while a
    // character reference such as "&#10;" stands for its character. The parser checked every
    // reference, so each one decodes.
    out.reserve(raw.size());
    qsizetype run = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char32_t c = Enc::at(raw, i);
        if (c == '&') {
            const qsizetype semicolon = Enc::find(raw, ';', i);
            if (semicolon > i) {
                Enc::append(out, Enc::mid(raw, run, i - run));
                if (decode<Enc>(Enc::mid(raw, i + 1, semicolon - i - 1), out)) {
                    i = semicolon;
                    run = i + 1;
                    continue;
                }
                run = i;
            }
        } else if (c == '\r' || c == '\n' || c == '\t') {
            Enc::append(out, Enc::mid(raw, run, i - run));
            if (c == '\r' && i + 1 < raw.size() && Enc::at(raw, i + 1) == '\n')
                ++i;
            Enc::append(out, ' ');
            run = i + 1;
        }
    }
    Enc::append(out, Enc::mid(raw, run));
    return out;
}

} // namespace

bool decodeEntity(QStringView reference, QString& out) {
    return decode<MarkupEncodings::Utf16>(reference, out);
}

bool decodeEntity(QByteArrayView reference, QByteArray& out) {
    return decode<MarkupEncodings::Utf8>(reference, out);
}

QString MarkupAttribute::value() const {
    return valueOf<MarkupEncodings::Utf16>(raw);
}

QByteArray Utf8MarkupAttribute::value() const {
    return valueOf<MarkupEncodings::Utf8>(raw);
}

bool parseMarkup(QStringView markup, MarkupHandler& handler) {
    return Reader<MarkupEncodings::Utf16>(markup, handler).run();
}

bool parseMarkup(QByteArrayView markup, Utf8MarkupHandler& handler) {
    return Reader<MarkupEncodings::Utf8>(markup, handler).run();
}
