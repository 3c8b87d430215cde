#include "SyntheticHistory.h"

#include <QStringList>

#include <limits>

namespace {

const char* const kWords[] = {
    "hello",
    "see",
    "you",
    "tomorrow",
    "the",
    "meeting",
    "is",
    "at",
    "noon",
    "thanks",
    "great",
    "idea",
    "coffee",
    "later",
    "photos",
    "from",
    "trip",
    "what",
    "do",
    "think",
    "sure",
    "no",
    "problem",
    "call",
    "me",
    "when",
    "ready",
    "weekend",
    "plans",
    "kids",
    "work",
    "project",
    "deadline",
    "lunch",
    "maybe",
    "yes",
    "okay",
    "love",
    // Non-Latin text and emoji
    "привет",
    "спасибо",
    "καλημέρα",
    "ευχαριστώ",
    "你好",
    "谢谢",
    "こんにちは",
    "مرحبا",
    "שלום",
    "नमस्ते",
    "😀",
    "👍",
    "🎉",
    "❤️",
    "😂",
    "🇺🇦",
};

const char* const kFirstNames[] = {"Ann",  "Bob",   "Chloé", "Dmitri", "Eva",  "Farid", "Grace",
                                   "Hiro", "Ines",  "Jon",   "Kasia",  "Lars", "Mei",   "Noah",
                                   "Olga", "Pedro", "Quinn", "Rosa",   "Sven", "Tara"};
const char* const kLastNames[] = {"Smith",  "Müller", "Иванова",  "Tanaka",
                                  "García", "O'Neil", "Kowalski", "Li"};

template <typename T, size_t N> constexpr quint64 countOf(const T (&)[N]) {
    return N;
}

} // namespace

SyntheticHistory::SyntheticHistory(const Options& options)
    : m_options(options)
    , m_random(options.seed) {
    m_me = {QStringLiteral("parlorix.me"), QStringLiteral("Parlorix Me"), false};
    const int groupOnly = options.groups > 0 ? qMax(2, options.contacts / 5) : 0;
    for (int i = 0; i < options.contacts + groupOnly; ++i) {
        const QString first = QString::fromUtf8(kFirstNames[draw(countOf(kFirstNames))]);
        const QString last = QString::fromUtf8(kLastNames[draw(countOf(kLastNames))]);
        QString handle;
        switch (i % 5) {
        case 0:
            handle =
                QStringLiteral("live:.cid.%1").arg(m_random() & 0xffffffffffULL, 10, 16, QLatin1Char('0'));
            break;
        case 1:
            handle = first.toLower() + QLatin1Char('.') + QString::number(i);
            break;
        case 2:
            handle = QStringLiteral("User_%1").arg(i); // upper case letters
            break;
        default:
            handle = QStringLiteral("%1%2").arg(QStringLiteral("friend"), QString::number(i));
        }
        if (!handle.startsWith(QLatin1String("live:")))
            handle = QString::fromLatin1(handle.toLatin1()); // handles are plain ASCII
        m_people.push_back({handle, first + QLatin1Char(' ') + last, i < options.contacts});
    }
    // Each conversation's share of the messages: uneven, as real histories are.
    qint64 total = 0;
    for (int i = 0; i < conversationCount(); ++i) {
        m_shares.push_back(1 + static_cast<qint64>(draw(100)));
        total += m_shares.back();
    }
    qint64 given = 0;
    for (qint64& share : m_shares) {
        share = total > 0 ? share * options.messages / total : 0;
        given += share;
    }
    for (qint64 i = 0; given < options.messages && !m_shares.empty(); ++i, ++given)
        ++m_shares[static_cast<size_t>(i) % m_shares.size()];
    qint64 nextId = 1;
    for (const qint64 share : m_shares) {
        m_firstIds.push_back(nextId);
        nextId += share;
    }
}

quint64 SyntheticHistory::draw(quint64 below) {
    return below == 0 ? 0 : m_random() % below;
}

QString SyntheticHistory::sentence(int words) {
    QStringList parts;
    for (int i = 0; i < words; ++i)
        parts.append(QString::fromUtf8(kWords[draw(countOf(kWords))]));
    return parts.join(QLatin1Char(' '));
}

SyntheticHistory::Kind SyntheticHistory::kindAt() {
    const quint64 roll = draw(1000);
    if (roll < 860)
        return Kind::Text;
    if (roll < 875)
        return Kind::Emote;
    if (roll < 880)
        return Kind::ContactRequest;
    if (roll < 890)
        return Kind::Sms;
    if (roll < 910)
        return Kind::CallStarted;
    if (roll < 930)
        return Kind::CallEnded;
    if (roll < 945)
        return Kind::Files;
    if (roll < 955)
        return Kind::Contacts;
    if (roll < 975)
        return Kind::Media;
    return Kind::Event;
}

QString SyntheticHistory::body(Kind kind, const Conversation& conversation) {
    switch (kind) {
    case Kind::Text:
    case Kind::Sms: {
        QString text = sentence(2 + static_cast<int>(draw(12))).toHtmlEscaped();
        switch (draw(12)) {
        case 0:
            return text + QStringLiteral(" <ss type=\"smile\">:)</ss>");
        case 1:
            return QStringLiteral(
                       "<a "
                       "href=\"https://example.com/p?a=1&amp;b=2\">https://example.com/p?a=1&amp;b=2</a> ") +
                   text;
        case 2:
            return QStringLiteral("<b raw_pre=\"*\" raw_post=\"*\">") + text + QStringLiteral("</b> ok");
        case 3:
            return text + QStringLiteral(" &amp; &lt;3 &quot;quoted&quot; it&apos;s &#8364;5");
        case 4:
            return QStringLiteral("<quote author=\"bob\" authorname=\"Bob\" "
                                  "timestamp=\"1400000000\"><legacyquote>[12:00:00] Bob: "
                                  "</legacyquote>") +
                   text + QStringLiteral("<legacyquote>\n\n&lt;&lt;&lt; </legacyquote></quote>yes");
        case 5:
            return text + QStringLiteral("\nsecond line\r\nthird line");
        case 6:
            return QStringLiteral("<at id=\"8:someone\">Someone</at> ") + text;
        case 7:
            return QStringLiteral("<i raw_pre=\"_\" raw_post=\"_\">") + text +
                   QStringLiteral("</i><e_m ts=\"1\" a=\"x\" t=\"61\"/>");
        case 8:
            return QStringLiteral("<ss type=\"cool\" alt=\"(cool)\">8-)</ss> ") + text;
        case 9:
            return QStringLiteral("a < b and ") + text; // not well-formed
        default:
            return text;
        }
    }
    case Kind::Emote:
        return QStringLiteral("waves ") + sentence(2).toHtmlEscaped();
    case Kind::ContactRequest:
        return QStringLiteral("Hi, I'd like to add you as a contact.").toHtmlEscaped();
    case Kind::CallStarted:
        return QStringLiteral(
            "<partlist type=\"started\" alt=\"\"><part identity=\"x\"><name>X</name></part></partlist>");
    case Kind::CallEnded:
        return QStringLiteral(
            "<partlist type=\"ended\" alt=\"\"><part identity=\"x\"><name>X</name><duration>42</duration>"
            "</part></partlist>");
    case Kind::Files:
        return QStringLiteral(
                   "<files alt=\"sent files\"><file size=\"1024\" index=\"0\" tid=\"0\">report %1.pdf</file>"
                   "<file size=\"20\" index=\"1\" tid=\"0\">notes &amp; ideas.txt</file></files>")
            .arg(draw(100));
    case Kind::Contacts:
        return QStringLiteral(
            "<contacts><c t=\"s\" s=\"ann.1\" f=\"Ann Smith\"/><c t=\"s\" s=\"bob.2\"/></contacts>");
    case Kind::Media:
        return QStringLiteral(
                   "<URIObject type=\"Picture.1\" uri=\"https://example.com/o/1\"><Title/><OriginalName "
                   "v=\"photo %1.jpg\"/><a href=\"https://example.com/o/1\">https://example.com/o/1</a>"
                   "</URIObject>")
            .arg(draw(1000));
    case Kind::Event:
        return QStringLiteral("<addmember><eventtime>1</eventtime><target>8:x</target></addmember>") +
               conversation.topic;
    }
    return QString();
}

SyntheticHistory::Conversation SyntheticHistory::conversation(int index) {
    // Each conversation draws from its own stream, so it does not depend on the ones before it.
    m_random.seed(m_options.seed * 1000003ULL + static_cast<quint64>(index));
    Conversation c;
    c.id = index + 1;
    c.group = index >= m_options.contacts;
    std::vector<const Person*> members;
    if (!c.group) {
        const Person& partner = m_people.at(static_cast<size_t>(index));
        c.identity = partner.handle;
        c.exportId = QStringLiteral("8:") + partner.handle;
        c.topic = partner.name;
        members = {&m_me, &partner};
    } else {
        const QString thread = QStringLiteral("%1").arg(m_random(), 16, 16, QLatin1Char('0'));
        c.identity = QStringLiteral("19:") + thread + QStringLiteral("@thread.skype");
        c.exportId = c.identity;
        c.topic = QStringLiteral("Group ") + sentence(2);
        members.push_back(&m_me);
        const int size = 2 + static_cast<int>(draw(6));
        for (int i = 0; i < size && !m_people.empty(); ++i)
            members.push_back(&m_people.at(draw(m_people.size())));
    }

    const qint64 count = m_shares.at(static_cast<size_t>(index));
    const qint64 start = kFirstStart + static_cast<qint64>(draw(kStarts));
    const qint64 gap = count > 0 ? qMax<qint64>(1, kSpan / count) : 1;
    qint64 time = start;
    c.messages.reserve(static_cast<size_t>(count));
    for (qint64 i = 0; i < count; ++i) {
        Message m;
        m.id = m_firstIds.at(static_cast<size_t>(index)) + i;
        m.time = time;
        time += 1 + static_cast<qint64>(draw(static_cast<quint64>(gap)));
        m.fractionDigits = i == 0 ? 0 : static_cast<int>(draw(4));
        m.millis = m.fractionDigits == 0 ? 0 : static_cast<int>(draw(1000));
        m.author = members.at(draw(members.size()));
        m.kind = i == 0 ? Kind::Text : kindAt();
        m.markup = body(m.kind, c);
        const quint64 fate = draw(100);
        if (m.kind == Kind::Text && fate < 3) {
            m.edited = true;
            m.markup += QStringLiteral("<e_m ts=\"%1\" a=\"%2\" t=\"61\"/>").arg(time).arg(m.author->handle);
        } else if (m.kind == Kind::Text && fate < 5 && i > 0) {
            m.removed = true;
            m.markup.clear();
        }
        c.messages.push_back(std::move(m));
    }
    if (!c.messages.empty())
        c.created = c.messages.front().time;
    return c;
}

std::vector<SyntheticHistory::Slice> SyntheticHistory::slices(int count, qint64 overlap) {
    // Conversations start within kStarts of the first and last about kSpan: the pieces share that.
    const qint64 whole = kStarts + kSpan;
    std::vector<Slice> pieces;
    for (int k = 0; k < count; ++k) {
        const qint64 from = kFirstStart + whole * k / count - overlap / 2;
        const qint64 to = kFirstStart + whole * (k + 1) / count + overlap / 2;
        pieces.push_back({k == 0 ? std::numeric_limits<qint64>::min() : from,
                          k == count - 1 ? std::numeric_limits<qint64>::max() : to});
    }
    return pieces;
}

SyntheticHistory::Conversation SyntheticHistory::cut(const Conversation& whole, const Slice& slice,
                                                     qint64 clock) {
    Conversation piece = whole;
    piece.messages.clear();
    for (const Message& message : whole.messages) {
        if (message.time < slice.from || message.time > slice.to)
            continue;
        piece.messages.push_back(message);
        piece.messages.back().time += clock;
    }
    return piece;
}
