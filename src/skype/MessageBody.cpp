#include "MessageBody.h"

#include "MarkupParser.h"

#include <QStringList>

namespace {

// Builds the plain text: alt texts stand for their element, e_m for nothing, at for "@" and its
// content, raw_pre and raw_post around their content.
class PlainTextBuilder final : public MarkupHandler {
public:
    explicit PlainTextBuilder(qsizetype capacity) { m_out.reserve(capacity); }

    void startElement(QStringView name, const std::vector<MarkupAttribute>& attributes) override {
        if (m_hidden > 0) {
            ++m_hidden;
            m_closing.emplace_back();
            return;
        }
        const MarkupAttribute* alt = find(attributes, u"alt");
        if ((alt && !alt->raw.isEmpty()) || name == u"e_m") {
            if (alt)
                m_out += alt->value();
            m_hidden = 1;
            m_closing.emplace_back();
            return;
        }
        if (name == u"at") {
            m_out += QLatin1Char('@');
            m_closing.emplace_back();
            return;
        }
        const MarkupAttribute* pre = find(attributes, u"raw_pre");
        const MarkupAttribute* post = find(attributes, u"raw_post");
        if (pre)
            m_out += pre->value();
        m_closing.push_back(post ? post->value() : QString());
    }

    void endElement(QStringView) override {
        if (m_closing.empty())
            return;
        if (m_hidden > 0)
            --m_hidden;
        else
            m_out += m_closing.back();
        m_closing.pop_back();
    }

    void text(QStringView text) override {
        if (m_hidden == 0)
            m_out += text;
    }

    QString take() { return std::move(m_out); }

private:
    static const MarkupAttribute* find(const std::vector<MarkupAttribute>& attributes, QStringView name) {
        for (const MarkupAttribute& attribute : attributes) {
            if (attribute.name == name)
                return &attribute;
        }
        return nullptr;
    }

    QString m_out;
    int m_hidden = 0;
    std::vector<QString> m_closing;
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
QString strippedText(QStringView markup) {
    QString withoutTags;
    withoutTags.reserve(markup.size());
    qsizetype at = 0;
    // Once no '>' follows, no later '<' can close either: the rest is text.
    qsizetype close = markup.indexOf(QLatin1Char('>'));
    while (close >= 0) {
        const qsizetype open = markup.indexOf(QLatin1Char('<'), at);
        if (open < 0)
            break;
        if (close < open)
            close = markup.indexOf(QLatin1Char('>'), open + 1);
        if (close < 0)
            break;
        withoutTags += markup.mid(at, open - at);
        at = close + 1;
    }
    withoutTags += markup.mid(at);

    const QStringView text(withoutTags);
    QString out;
    out.reserve(text.size());
    at = 0;
    qsizetype semicolon = text.indexOf(QLatin1Char(';'));
    for (;;) {
        const qsizetype ampersand = semicolon < 0 ? -1 : text.indexOf(QLatin1Char('&'), at);
        if (ampersand < 0)
            break;
        out += text.mid(at, ampersand - at);
        if (semicolon >= 0 && semicolon < ampersand)
            semicolon = text.indexOf(QLatin1Char(';'), ampersand + 1);
        if (semicolon > ampersand && semicolon - ampersand <= kLongestEntity &&
            decodeEntity(text.mid(ampersand + 1, semicolon - ampersand - 1), out)) {
            at = semicolon + 1;
        } else {
            out += QLatin1Char('&');
            at = ampersand + 1;
        }
    }
    out += text.mid(at);
    return out;
}

QString withCrLf(const QString& text) {
    if (!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\r\n");
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    return out;
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
    // Most messages are plain words: nothing to parse.
    bool plain = true;
    for (const QChar c : markup) {
        const char16_t u = c.unicode();
        if (u <= u'<' && (u == u'<' || u == u'&' || u == u'\r' || u == u'\n')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return markup;
    PlainTextBuilder builder(markup.size());
    const QString text = parseMarkup(markup, builder) ? builder.take() : strippedText(markup);
    return withCrLf(text);
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

} // namespace MessageBody
