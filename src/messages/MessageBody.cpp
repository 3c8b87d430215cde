#include "MessageBody.h"

#include "MarkupEncodings.h"
#include "MarkupParser.h"

#include <QStringList>

#include <cstring>
#include <type_traits>

namespace {

using MarkupEncodings::equals;
using AsText = MarkupEncodings::Utf16;
using AsUtf8 = MarkupEncodings::Utf8;

// Builds the plain text: alt texts stand for their element, e_m for nothing, at for "@" and its
// content, raw_pre and raw_post around their content.
template <typename Enc> class PlainTextBuilder final : public Enc::Handler {
public:
    using View = typename Enc::View;
    using Text = typename Enc::Text;
    using Attribute = typename Enc::Attribute;

    // Appends to `out`.
    explicit PlainTextBuilder(Text& out)
        : m_out(out) {}

    void startElement(View name, const std::vector<Attribute>& attributes) override {
        if (m_hidden > 0) {
            ++m_hidden;
            m_closing.emplace_back();
            return;
        }
        const Attribute* alt = find(attributes, QLatin1String("alt"));
        if ((alt && !alt->raw.isEmpty()) || equals<Enc>(name, QLatin1String("e_m"))) {
            if (alt)
                m_out.append(alt->value());
            m_hidden = 1;
            m_closing.emplace_back();
            return;
        }
        if (equals<Enc>(name, QLatin1String("at"))) {
            Enc::append(m_out, '@');
            m_closing.emplace_back();
            return;
        }
        const Attribute* pre = find(attributes, QLatin1String("raw_pre"));
        const Attribute* post = find(attributes, QLatin1String("raw_post"));
        if (pre)
            m_out.append(pre->value());
        m_closing.push_back(post ? post->value() : Text());
    }

    void endElement(View) override {
        if (m_closing.empty())
            return;
        if (m_hidden > 0)
            --m_hidden;
        else
            m_out.append(m_closing.back());
        m_closing.pop_back();
    }

    void text(View text) override {
        if (m_hidden == 0)
            Enc::append(m_out, text);
    }

private:
    static const Attribute* find(const std::vector<Attribute>& attributes, QLatin1String name) {
        for (const Attribute& attribute : attributes) {
            if (equals<Enc>(attribute.name, name))
                return &attribute;
        }
        return nullptr;
    }

    Text& m_out;
    int m_hidden = 0;
    std::vector<Text> m_closing;
};

// The elements of one name, with their attributes and the text inside them.
class ElementCollector final : public MarkupHandler {
public:
    struct Element {
        std::vector<MarkupAttribute> attributes;
        QString text;

        // The attribute's value, or nothing when the element has no such attribute.
        std::optional<QString> attribute(QStringView name) const {
            for (const MarkupAttribute& a : attributes) {
                if (a.name == name)
                    return a.value();
            }
            return std::nullopt;
        }
    };

    explicit ElementCollector(QStringView name)
        : m_name(name) {}

    void startElement(QStringView name, const std::vector<MarkupAttribute>& attributes) override {
        if (m_depth > 0) {
            ++m_depth;
        } else if (name == m_name) {
            m_depth = 1;
            // The names point into the markup, which outlives the collector.
            Element element{attributes, QString()};
            m_found.push_back(std::move(element));
        }
    }

    void endElement(QStringView) override {
        if (m_depth > 0)
            --m_depth;
    }

    void text(QStringView text) override {
        if (m_depth > 0)
            m_found.back().text += text;
    }

    const std::vector<Element>& found() const { return m_found; }

private:
    QStringView m_name;
    int m_depth = 0;
    std::vector<Element> m_found;
};

std::vector<ElementCollector::Element> collect(QStringView markup, QStringView name) {
    ElementCollector collector(name);
    if (!parseMarkup(markup, collector))
        return {};
    return collector.found();
}

// The longest entity reference decoded, "&#x10FFFF;" with room to spare.
constexpr qsizetype kLongestEntity = 12;

// For a body that is not XML: every <...> removed, then the common entities decoded, appended to
// `out`. Linear in the body's length, however many '<' and '&' it holds: no search runs past what the
// next one needs, and text between them is copied in runs. The entities are decoded where the text
// stands, as none is longer decoded than its reference: a long body is not held twice.
template <typename Enc> void appendStripped(typename Enc::View markup, typename Enc::Text& out) {
    using Text = typename Enc::Text;
    const qsizetype start = out.size();
    qsizetype at = 0;
    // Once no '>' follows, no later '<' can close either: the rest is text.
    qsizetype close = Enc::find(markup, '>', 0);
    while (close >= 0) {
        const qsizetype open = Enc::find(markup, '<', at);
        if (open < 0)
            break;
        if (close < open)
            close = Enc::find(markup, '>', open + 1);
        if (close < 0)
            break;
        Enc::append(out, Enc::mid(markup, at, open - at));
        at = close + 1;
    }
    Enc::append(out, Enc::mid(markup, at));

    auto* const units = out.data();
    const auto move = [&](qsizetype to, qsizetype from, qsizetype count) {
        if (count > 0 && to != from)
            std::memmove(units + to, units + from, static_cast<size_t>(count) * sizeof(*units));
    };
    qsizetype written = start;
    Text entity;
    at = start;
    qsizetype semicolon = Enc::find(typename Enc::View(out), ';', at);
    for (;;) {
        const typename Enc::View text(out);
        const qsizetype ampersand = semicolon < 0 ? -1 : Enc::find(text, '&', at);
        if (ampersand < 0)
            break;
        move(written, at, ampersand - at);
        written += ampersand - at;
        if (semicolon >= 0 && semicolon < ampersand)
            semicolon = Enc::find(text, ';', ampersand + 1);
        entity.clear();
        if (semicolon > ampersand && semicolon - ampersand <= kLongestEntity &&
            decodeEntity(Enc::mid(text, ampersand + 1, semicolon - ampersand - 1), entity)) {
            std::memcpy(units + written, entity.constData(),
                        static_cast<size_t>(entity.size()) * sizeof(*units));
            written += entity.size();
            at = semicolon + 1;
        } else {
            units[written++] = units[ampersand];
            at = ampersand + 1;
        }
    }
    move(written, at, out.size() - at);
    written += out.size() - at;
    out.truncate(written);
}

// Line breaks (CR LF, CR alone, LF alone) from `from` on as CR LF, in place: the breaks are counted,
// the text made as much longer, and moved from its end towards it, only as far as the first break
// that grows.
template <typename Enc> void crLfFrom(typename Enc::Text& text, qsizetype from) {
    const qsizetype size = text.size();
    qsizetype grows = 0;
    {
        const auto* const units = text.constData();
        for (qsizetype at = from; at < size; ++at) {
            if (units[at] == u'\r') {
                if (at + 1 < size && units[at + 1] == u'\n')
                    ++at;
                else
                    ++grows;
            } else if (units[at] == u'\n') {
                ++grows;
            }
        }
    }
    if (grows == 0)
        return;
    text.resize(size + grows);
    auto* const units = text.data();
    using Unit = std::remove_reference_t<decltype(*units)>;
    qsizetype to = size + grows;
    for (qsizetype at = size; to > at;) {
        const Unit unit = units[--at];
        if (unit == u'\n') {
            units[--to] = Unit(u'\n');
            if (at > from && units[at - 1] == u'\r')
                --at;
            units[--to] = Unit(u'\r');
        } else if (unit == u'\r') {
            units[--to] = Unit(u'\n');
            units[--to] = Unit(u'\r');
        } else {
            units[--to] = unit;
        }
    }
}

// The plain text of the markup, appended to `out`.
template <typename Enc> void appendPlainText(typename Enc::View markup, typename Enc::Text& out) {
    // Most messages are plain words: nothing to parse.
    bool plain = true;
    for (qsizetype i = 0; i < markup.size(); ++i) {
        const char32_t u = Enc::at(markup, i);
        if (u <= '<' && (u == '<' || u == '&' || u == '\r' || u == '\n')) {
            plain = false;
            break;
        }
    }
    if (plain) {
        Enc::append(out, markup);
        return;
    }
    const qsizetype start = out.size();
    PlainTextBuilder<Enc> builder(out);
    if (!parseMarkup(markup, builder)) {
        out.truncate(start);
        appendStripped<Enc>(markup, out);
    }
    crLfFrom<Enc>(out, start);
}

template <typename Enc> typename Enc::Text plainTextOf(typename Enc::View markup) {
    typename Enc::Text text;
    appendPlainText<Enc>(markup, text);
    return text;
}

constexpr quint64 kHighs = 0x8080808080808080ULL;

// `high`: every byte of `bytes` or-ed together, in the bytes of a word. ASCII, or else UTF-8 without
// a byte order mark.
bool isUtf8ReadAsItIs(QByteArrayView bytes, quint64 high) {
    if ((high & kHighs) == 0)
        return true;
    return !bytes.startsWith("\xEF\xBB\xBF") && bytes.isValidUtf8();
}

} // namespace

namespace MessageBody {

MessageKind kindOfDatabaseType(int type) {
    switch (type) {
    case 61: // text
    case 60: // emote
    case 50: // contact request
    case 64: // SMS
        return MessageKind::Text;
    case 30:
        return MessageKind::CallStarted;
    case 39:
        return MessageKind::CallEnded;
    case 68:
        return MessageKind::Files;
    case 63:
        return MessageKind::Contacts;
    case 201:
    case 253:
        return MessageKind::Media;
    default:
        return MessageKind::Event;
    }
}

MessageKind kindOfExportType(std::string_view messageType) {
    if (messageType == "RichText" || messageType == "Text")
        return MessageKind::Text;
    if (messageType == "Event/Call")
        return MessageKind::Call;
    if (messageType == "RichText/Files")
        return MessageKind::Files;
    if (messageType == "RichText/Contacts")
        return MessageKind::Contacts;
    if (messageType == "RichText/UriObject" || messageType.substr(0, 15) == "RichText/Media_")
        return MessageKind::Media;
    return MessageKind::Event;
}

QString plainText(const QString& markup) {
    return plainTextOf<AsText>(markup);
}

QByteArray plainTextUtf8(QByteArrayView markup) {
    if (!isReadAsItIs(markup))
        return plainTextOf<AsUtf8>(readableUtf8(markup));
    return plainTextOf<AsUtf8>(markup);
}

bool isReadAsItIs(QByteArrayView bytes) {
    // Most bodies are ASCII, which is seen eight bytes at a time.
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    quint64 high = 0;
    for (; end - at >= 8; at += 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        high |= word;
    }
    for (; at < end; ++at)
        high |= static_cast<uchar>(*at);
    return isUtf8ReadAsItIs(bytes, high);
}

bool isPlainUtf8(QByteArrayView markup) {
    // Eight bytes at a time: a word holds a byte c when the word with c taken out of each byte
    // holds a zero byte.
    constexpr quint64 kOnes = 0x0101010101010101ULL;
    const auto holdsZero = [](quint64 word) { return ((word - kOnes) & ~word & kHighs) != 0; };
    const char* at = markup.data();
    const char* const end = at + markup.size();
    quint64 high = 0;
    for (; end - at >= 8; at += 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        if (holdsZero(word ^ (kOnes * '<')) || holdsZero(word ^ (kOnes * '&')) ||
            holdsZero(word ^ (kOnes * '\r')) || holdsZero(word ^ (kOnes * '\n')))
            return false;
        high |= word;
    }
    for (; at < end; ++at) {
        const char c = *at;
        if (c == '<' || c == '&' || c == '\r' || c == '\n')
            return false;
        high |= static_cast<uchar>(c);
    }
    return isUtf8ReadAsItIs(markup, high);
}

QByteArray readableUtf8(QByteArrayView bytes) {
    return isReadAsItIs(bytes) ? bytes.toByteArray() : QString::fromUtf8(bytes).toUtf8();
}

std::optional<QString> bodyFor(MessageKind kind, const QString& markup) {
    switch (kind) {
    case MessageKind::Text: {
        QString text = plainText(markup);
        if (text.isEmpty())
            return std::nullopt;
        return text;
    }
    case MessageKind::CallStarted:
        return QStringLiteral("Call started");
    case MessageKind::CallEnded:
        return QStringLiteral("Call ended");
    case MessageKind::Call: {
        const auto parts = collect(markup, u"partlist");
        const QString type = parts.empty() ? QString() : parts.front().attribute(u"type").value_or(QString());
        if (type == u"started")
            return QStringLiteral("Call started");
        if (type == u"ended")
            return QStringLiteral("Call ended");
        if (type == u"missed")
            return QStringLiteral("Call missed");
        return std::nullopt;
    }
    case MessageKind::Files: {
        QStringList names;
        for (const auto& file : collect(markup, u"file"))
            names.append(file.text);
        return QLatin1String("Sent files: ") % names.join(QLatin1String(", "));
    }
    case MessageKind::Contacts: {
        QStringList names;
        for (const auto& contact : collect(markup, u"c")) {
            const QString full = contact.attribute(u"f").value_or(QString());
            names.append(full.isEmpty() ? contact.attribute(u"s").value_or(QString()) : full);
        }
        return QLatin1String("Sent contacts: ") % names.join(QLatin1String(", "));
    }
    case MessageKind::Media: {
        for (const auto& original : collect(markup, u"OriginalName")) {
            if (const std::optional<QString> name = original.attribute(u"v"))
                return QLatin1String("Shared file: ") % *name;
        }
        return plainText(markup);
    }
    case MessageKind::Event:
        break;
    }
    return std::nullopt;
}

std::optional<QByteArray> bodyForUtf8(MessageKind kind, QByteArrayView markup) {
    QByteArray body;
    if (!appendBodyUtf8(kind, markup, body))
        return std::nullopt;
    return body;
}

bool appendBodyUtf8(MessageKind kind, QByteArrayView markup, QByteArray& out) {
    const qsizetype start = out.size();
    switch (kind) {
    case MessageKind::Text:
        if (isReadAsItIs(markup))
            appendPlainText<AsUtf8>(markup, out);
        else
            appendPlainText<AsUtf8>(readableUtf8(markup), out);
        // A text without a character is left out.
        return out.size() != start;
    case MessageKind::CallStarted:
        out.append("Call started");
        break;
    case MessageKind::CallEnded:
        out.append("Call ended");
        break;
    default: {
        // The rarer kinds go the way of text.
        const std::optional<QString> body = bodyFor(kind, QString::fromUtf8(markup));
        if (!body)
            return false;
        out.append(body->toUtf8());
        break;
    }
    }
    return true;
}

} // namespace MessageBody
