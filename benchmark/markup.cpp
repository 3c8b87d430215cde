// Times the markup-to-text conversion on the synthetic history's bodies, the hand-written parser
// against Qt's QXmlStreamReader doing the same, and the hand-written one on hostile bodies; then the
// transcripts' conversion to an ANSI code page and the older export's chat name index on hostile texts.
//   parlorix-bench-markup [messages]

#include "SyntheticHistory.h"

#include "export/ChatNameIndex.h"
#include "export/NarrowText.h"
#include "messages/MessageBody.h"

#include <QElapsedTimer>
#include <QXmlStreamReader>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

// The same rules as the program's plain text, on QXmlStreamReader; nothing when the body is not
// well-formed (the program then strips the tags, which is not what is measured here).
std::optional<QString> plainTextByQt(const QString& markup) {
    QXmlStreamReader xml(QLatin1String("<r>") + markup + QLatin1String("</r>"));
    QString out;
    std::vector<QString> closing;
    int hidden = 0;
    bool root = true;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (root) {
                root = false;
                break;
            }
            if (hidden > 0) {
                ++hidden;
                closing.emplace_back();
                break;
            }
            const QXmlStreamAttributes attributes = xml.attributes();
            const QStringView alt = attributes.value(QLatin1String("alt"));
            if (!alt.isEmpty() || xml.name() == QLatin1String("e_m")) {
                out += alt;
                hidden = 1;
                closing.emplace_back();
                break;
            }
            if (xml.name() == QLatin1String("at")) {
                out += QLatin1Char('@');
                closing.emplace_back();
                break;
            }
            out += attributes.value(QLatin1String("raw_pre"));
            closing.push_back(attributes.value(QLatin1String("raw_post")).toString());
            break;
        }
        case QXmlStreamReader::EndElement:
            if (closing.empty())
                break;
            if (hidden > 0)
                --hidden;
            else
                out += closing.back();
            closing.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (hidden == 0)
                out += xml.text();
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        return std::nullopt;
    return out;
}

double seconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    const qint64 wanted = argc > 1 ? QByteArray(argv[1]).toLongLong() : 300000;
    SyntheticHistory history({7, 200, 30, wanted});
    std::vector<QString> bodies;
    for (int i = 0; i < history.conversationCount(); ++i) {
        for (const SyntheticHistory::Message& message : history.conversation(i).messages)
            bodies.push_back(message.markup);
    }
    qint64 characters = 0;
    for (const QString& body : bodies)
        characters += body.size();

    QElapsedTimer timer;
    timer.start();
    qint64 handLength = 0;
    for (const QString& body : bodies)
        handLength += MessageBody::plainText(body).size();
    const double hand = seconds(timer);

    timer.restart();
    qint64 qtLength = 0;
    for (const QString& body : bodies)
        qtLength += plainTextByQt(body).value_or(QString()).size();
    const double qt = seconds(timer);

    int differ = 0;
    for (const QString& body : bodies) {
        const std::optional<QString> byQt = plainTextByQt(body);
        if (byQt &&
            QString(*byQt).replace(QLatin1String("\r\n"), QLatin1String("\n")) !=
                QString(MessageBody::plainText(body)).replace(QLatin1String("\r\n"), QLatin1String("\n")))
            ++differ;
    }
    std::printf("%zu bodies, %lld characters (%lld and %lld out)\n", bodies.size(),
                static_cast<long long>(characters), static_cast<long long>(handLength),
                static_cast<long long>(qtLength));
    std::printf("hand-written parser  %.3f s\nQXmlStreamReader     %.3f s (%.1f x the hand-written)\n", hand,
                qt, qt / hand);
    std::printf("bodies read differently: %d\n", differ);

    // Hostile bodies: each is one pass, whatever it holds.
    const struct {
        const char* name;
        QString body;
    } hostile[] = {
        {"a million '<'", QString(1000000, QLatin1Char('<'))},
        {"a million '&'", QString(1000000, QLatin1Char('&'))},
        {"50 MB of '<' and '&'", QString(25000000, QLatin1Char('<')) + QString(25000000, QLatin1Char('&'))},
        {"50 MB of '<a' without '>'", QString(QLatin1String("<a")).repeated(25000000)},
    };
    for (const auto& [name, body] : hostile) {
        timer.restart();
        const qsizetype length = MessageBody::plainText(body).size();
        std::printf("%-28s %.3f s (%lld characters out)\n", name, seconds(timer),
                    static_cast<long long>(length));
    }

    // A chat of 2.2 million characters, 100,000 of them emoji, as Windows' code pages take it; and a
    // group whose id is 400 KB of one character, indexed for the older export.
    const QString emoji =
        QString(QString(20, QLatin1Char('a')) + QStringLiteral("\U0001F600")).repeated(100000);
    timer.restart();
    const qsizetype narrow = NarrowText::withPairsAsQuestionMarks(emoji).size();
    std::printf("%-28s %.3f s (%lld characters out)\n", "100,000 emoji to one '?'", seconds(timer),
                static_cast<long long>(narrow));
    timer.restart();
    const ChatNameIndex names({QString(400000, QLatin1Char('a')), QStringLiteral("ann")});
    const size_t found = names.candidates(QStringLiteral("aaa")).size();
    std::printf("%-28s %.3f s (%zu chats found)\n", "400 KB chat name indexed", seconds(timer), found);
    return 0;
}
