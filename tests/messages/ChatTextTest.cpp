#include "messages/ChatText.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Each body and name, built into one block, reads as the message-by-message way gives it; the
// messages keep their texts when the block grows after them and when the builder is gone.
TEST(ChatText, MessagesReadAsEachBodyAndNameWorkedOutAlone) {
    struct Case {
        MessageKind kind;
        QByteArray markup;
        QByteArray name;
    };
    const std::vector<Case> cases{
        {MessageKind::Text, "plain words", "Ann"},
        {MessageKind::Text, "caf\xC3\xA9 \xF0\x9F\x98\x80", "Ann"},
        {MessageKind::Text, "<b>bold</b> &amp; more", "Ann"},
        {MessageKind::Text, "two\nlines", "Bob"},
        {MessageKind::Text, "broken \xC3 byte", "B\xFFob"},
        {MessageKind::Text,
         "\xEF\xBB\xBF"
         "after a mark",
         "\xEF\xBB\xBF"},
        {MessageKind::Text, "", "Ann"},
        {MessageKind::Text, "<b></b>", "Ann"},
        {MessageKind::CallStarted, "", "Ann"},
        {MessageKind::Files, "<files><file>a.txt</file></files>", ""},
        // A name longer than anyone's, twice, and a short one after it.
        {MessageKind::Text, "long", QByteArray(5000, 'n')},
        {MessageKind::Text, "longer", QByteArray(5000, 'n')},
        {MessageKind::Text, "short", "Ann"},
        // Line breaks of every kind, an entity and a tag where the markup is no XML.
        {MessageKind::Text, "a\r\nb\rc\nd\r\re &lt;x&#x1F600;&bogus; <i>", "Ann"},
        {MessageKind::Text, "<b>a\nb</b>\n\r", "Ann"},
    };
    std::vector<HistoryMessage> messages;
    std::vector<std::pair<QString, QString>> expected;
    {
        auto text = std::make_unique<ChatText>();
        ChatText::LastName last;
        for (const Case& test : cases) {
            const std::optional<ChatText::Span> body = text->addBody(test.kind, test.markup);
            const std::optional<QByteArray> alone = MessageBody::bodyForUtf8(test.kind, test.markup);
            ASSERT_EQ(body.has_value(), alone.has_value()) << test.markup.toStdString();
            if (!body)
                continue;
            const ChatText::Span name = text->addName(test.name, last);
            messages.push_back(text->message(name, *body));
            expected.emplace_back(QString::fromUtf8(MessageBody::readableUtf8(test.name)),
                                  QString::fromUtf8(*alone));
            text->addBody(MessageKind::Text, QByteArray(5000, 'x')); // the block grows after each
        }
    }
    ASSERT_EQ(messages.size(), expected.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].senderName(), expected[i].first) << i;
        EXPECT_EQ(messages[i].body(), expected[i].second) << i;
        const std::optional<Message::Utf8> utf8 = messages[i].utf8();
        ASSERT_TRUE(utf8);
        EXPECT_EQ(QString::fromUtf8(utf8->senderName), expected[i].first) << i;
        EXPECT_EQ(QString::fromUtf8(utf8->body), expected[i].second) << i;
    }
}

} // namespace
