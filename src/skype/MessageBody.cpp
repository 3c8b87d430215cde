#include "MessageBody.h"

#include "MarkupEncodings.h"
#include "MarkupParser.h"

#include <QStringList>

#include <cstring>

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

    explicit PlainTextBuilder(qsizetype capacity) { m_out.reserve(capacity); }

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

    Text take() { return std::move(m_out); }

private:
    static const Attribute* find(const std::vector<Attribute>& attributes, QLatin1String name) {
        for (const Attribute& attribute : attributes) {
            if (equals<Enc>(attribute.name, name))
                return &attribute;
        }
        return nullptr;
    }

    Text m_out;
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

// For a body that is not XML: every <...> removed, then the common entities decoded. Linear in the
// body's length, however many '<' and '&' it holds: no search runs past what the next one needs,
// and text between them is copied in runs.
template <typename Enc> typename Enc::Text strippedText(typename Enc::View markup) {
    using Text = typename Enc::Text;
    Text withoutTags;
    withoutTags.reserve(markup.size());
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
        Enc::append(withoutTags, Enc::mid(markup, at, open - at));
        at = close + 1;
    }
    Enc::append(withoutTags, Enc::mid(markup, at));

    const typename Enc::View text(withoutTags);
    Text out;
    out.reserve(text.size());
    at = 0;
    qsizetype semicolon = Enc::find(text, ';', 0);
    for (;;) {
        const qsizetype ampersand = semicolon < 0 ? -1 : Enc::find(text, '&', at);
        if (ampersand < 0)
            break;
        Enc::append(out, Enc::mid(text, at, ampersand - at));
        if (semicolon >= 0 && semicolon < ampersand)
            semicolon = Enc::find(text, ';', ampersand + 1);
        if (semicolon > ampersand && semicolon - ampersand <= kLongestEntity &&
            decodeEntity(Enc::mid(text, ampersand + 1, semicolon - ampersand - 1), out)) {
            at = semicolon + 1;
        } else {
            Enc::append(out, '&');
            at = ampersand + 1;
        }
    }
    Enc::append(out, Enc::mid(text, at));
    return out;
}

// Line breaks (CR LF, CR alone, LF alone) as CR LF; the text between them copied in runs.
template <typename Enc> typename Enc::Text withCrLf(typename Enc::Text text) {
    const typename Enc::View in(text);
    qsizetype at = 0;
    while (at < in.size() && Enc::at(in, at) != '\r' && Enc::at(in, at) != '\n')
        ++at;
    if (at == in.size())
        return text;
    typename Enc::Text out;
    out.reserve(in.size() + 16);
    qsizetype run = 0;
    for (; at < in.size(); ++at) {
        const char32_t c = Enc::at(in, at);
        if (c != '\r' && c != '\n')
            continue;
        Enc::append(out, Enc::mid(in, run, at - run));
        if (c == '\r' && at + 1 < in.size() && Enc::at(in, at + 1) == '\n')
            ++at;
        Enc::append(out, Enc::crLf());
        run = at + 1;
    }
    Enc::append(out, Enc::mid(in, run));
    return out;
}

template <typename Enc> typename Enc::Text plainTextOf(typename Enc::View markup) {
    // Most messages are plain words: nothing to parse.
    bool plain = true;
    for (qsizetype i = 0; i < markup.size(); ++i) {
        const char32_t u = Enc::at(markup, i);
        if (u <= '<' && (u == '<' || u == '&' || u == '\r' || u == '\n')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return typename Enc::Text(markup.data(), markup.size());
    PlainTextBuilder<Enc> builder(markup.size());
    typename Enc::Text text = parseMarkup(markup, builder) ? builder.take() : strippedText<Enc>(markup);
    return withCrLf<Enc>(std::move(text));
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
    switch (kind) {
    case MessageKind::Text: {
        QByteArray text = plainTextUtf8(markup);
        if (text.isEmpty())
            return std::nullopt;
        return text;
    }
    case MessageKind::CallStarted:
        return QByteArray("Call started");
    case MessageKind::CallEnded:
        return QByteArray("Call ended");
    default: {
        // The rarer kinds go the way of text.
        const std::optional<QString> body = bodyFor(kind, QString::fromUtf8(markup));
        if (!body)
            return std::nullopt;
        return body->toUtf8();
    }
    }
}

} // namespace MessageBody
