#include "skype/MessageMerge.h"
#include "messages/ChatText.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

constexpr qint64 kNoTime = HistoryMessage::kNoTime;

// A message as a history gives it: its sender's handle (empty where the history gives none), the
// name shown, the body shown and its time.
struct Said {
    const char* handle;
    const char* name;
    const char* body;
    qint64 time;
};

// One history's messages of a chat, given oldest first, as the history gives them: newest first.
std::vector<HistoryMessage> history(const std::vector<Said>& oldestFirst) {
    ChatText text;
    std::vector<HistoryMessage> messages;
    for (const Said& said : oldestFirst) {
        ChatText::LastName names;
        ChatText::LastName handles;
        const ChatText::Span handle = text.addName(QByteArrayView(said.handle), handles);
        const ChatText::Span name = text.addName(QByteArrayView(said.name), names);
        const std::optional<ChatText::Span> body = text.addBody(MessageKind::Text, QByteArrayView(said.body));
        messages.push_back(text.message(name, *body, handle, said.time));
    }
    return {messages.rbegin(), messages.rend()};
}

// The merged chat as a transcript reads it, oldest first: "name: body @time".
QStringList transcript(const std::vector<HistoryMessage>& newestFirst) {
    QStringList lines;
    for (auto message = newestFirst.rbegin(); message != newestFirst.rend(); ++message)
        lines.append(
            message->senderName() + QStringLiteral(": ") + message->body() + QStringLiteral(" @") +
            (message->time() == kNoTime ? QStringLiteral("none") : QString::number(message->time())));
    return lines;
}

TEST(MessageMerge, EachMessageOnceTwinsKeptAndTheFirstHistorysTime) {
    const struct {
        const char* name;
        std::vector<std::vector<Said>> histories;
        const char* merged; // lines joined by '|'
    } cases[] = {
        {"copies three minutes apart are one, at the first history's time",
         {{{"ann", "Ann", "hi", 100}}, {{"ann", "Ann", "hi", 280}}},
         "Ann: hi @100"},
        {"copies three minutes and a second apart are two",
         {{{"ann", "Ann", "hi", 100}}, {{"ann", "Ann", "hi", 281}}},
         "Ann: hi @100|Ann: hi @281"},
        {"a later history's clock behind",
         {{{"ann", "Ann", "hi", 280}}, {{"ann", "Ann", "hi", 100}}},
         "Ann: hi @280"},
        {"two identical messages seconds apart, in both histories, stay two",
         {{{"ann", "Ann", "ok", 100}, {"ann", "Ann", "ok", 110}},
          {{"ann", "Ann", "ok", 160}, {"ann", "Ann", "ok", 170}}},
         "Ann: ok @100|Ann: ok @110"},
        {"of two identical messages, the one the first history lacks is added",
         {{{"ann", "Ann", "ok", 100}}, {{"ann", "Ann", "ok", 160}, {"ann", "Ann", "ok", 170}}},
         "Ann: ok @100|Ann: ok @170"},
        {"as many copies matched as can be one to one: the n-th with the n-th",
         {{{"ann", "Ann", "ok", 100}, {"ann", "Ann", "ok", 250}},
          {{"ann", "Ann", "ok", 260}, {"ann", "Ann", "ok", 400}}},
         "Ann: ok @100|Ann: ok @250"},
        {"twins ten seconds apart with a clock three minutes ahead stay two",
         {{{"ann", "Ann", "ok", 100}, {"ann", "Ann", "ok", 110}},
          {{"ann", "Ann", "ok", 280}, {"ann", "Ann", "ok", 290}}},
         "Ann: ok @100|Ann: ok @110"},
        {"twins ten seconds apart with a clock three minutes behind stay two",
         {{{"ann", "Ann", "ok", 280}, {"ann", "Ann", "ok", 290}},
          {{"ann", "Ann", "ok", 100}, {"ann", "Ann", "ok", 110}}},
         "Ann: ok @280|Ann: ok @290"},
        {"a copy beyond reach of the earliest goes with the next",
         {{{"ann", "Ann", "ok", 100}, {"ann", "Ann", "ok", 300}}, {{"ann", "Ann", "ok", 400}}},
         "Ann: ok @100|Ann: ok @300"},
        {"of two within reach, the earlier",
         {{{"ann", "Ann", "ok", 100}, {"ann", "Ann", "ok", 140}}, {{"ann", "Ann", "ok", 120}}},
         "Ann: ok @100|Ann: ok @140"},
        {"the same sender by the handle, whatever name is shown",
         {{{"ann", "Ann Smith", "hi", 100}}, {{"ann", "ann", "hi", 130}}},
         "Ann Smith: hi @100"},
        {"another sender is another message, of equal times the first history's first",
         {{{"ann", "Ann", "hi", 100}}, {{"bob", "Bob", "hi", 100}}},
         "Ann: hi @100|Bob: hi @100"},
        {"the same name with other handles is another sender",
         {{{"ann.1", "Ann", "hi", 100}}, {{"ann.2", "Ann", "hi", 100}}},
         "Ann: hi @100|Ann: hi @100"},
        {"without handles, the name shown tells the sender",
         {{{"", "Ann", "hi", 100}}, {{"", "Ann", "hi", 100}}, {{"", "Bob", "hi", 100}}},
         "Ann: hi @100|Bob: hi @100"},
        {"the body as shown, byte for byte",
         {{{"ann", "Ann", "hi", 100}}, {{"ann", "Ann", "Hi", 100}}, {{"ann", "Ann", "hi ", 100}}},
         "Ann: hi @100|Ann: Hi @100|Ann: hi  @100"},
        {"a message without a time is never a copy, and comes first",
         {{{"ann", "Ann", "a", 50}, {"ann", "Ann", "hi", kNoTime}},
          {{"ann", "Ann", "hi", kNoTime}, {"ann", "Ann", "b", 60}}},
         "Ann: hi @none|Ann: hi @none|Ann: a @50|Ann: b @60"},
        {"in order of their times, of equal times each history's own order",
         {{{"ann", "Ann", "one", 100}, {"ann", "Ann", "two", 100}, {"ann", "Ann", "four", 300}},
          {{"bob", "Bob", "three", 200}, {"bob", "Bob", "five", 400}}},
         "Ann: one @100|Ann: two @100|Bob: three @200|Ann: four @300|Bob: five @400"},
        {"three histories: each later one against all before it",
         {{{"ann", "Ann", "ok", 100}},
          {{"ann", "Ann", "ok", 150}, {"bob", "Bob", "x", 500}},
          {{"ann", "Ann", "ok", 200}, {"bob", "Bob", "x", 520}, {"bob", "Bob", "y", 600}}},
         "Ann: ok @100|Bob: x @500|Bob: y @600"},
        {"a history without the chat's messages", {{}, {{"ann", "Ann", "hi", 100}}, {}}, "Ann: hi @100"},
        {"times at the ends of what a number holds",
         {{{"ann", "Ann", "hi", std::numeric_limits<qint64>::max()}, {"ann", "Ann", "hi", kNoTime + 1}}},
         "Ann: hi @-9223372036854775807|Ann: hi @9223372036854775807"},
    };
    for (const auto& row : cases) {
        std::vector<std::vector<HistoryMessage>> parts;
        for (const std::vector<Said>& said : row.histories)
            parts.push_back(history(said));
        EXPECT_EQ(transcript(MessageMerge::merge(parts)),
                  QString::fromUtf8(row.merged).split(QLatin1Char('|')))
            << row.name;
    }
}

TEST(MessageMerge, FarTimesFromTwoHistoriesNeitherOverflowNorMatch) {
    const std::vector<std::vector<HistoryMessage>> parts{
        history(
            {{"ann", "Ann", "hi", kNoTime + 1}, {"ann", "Ann", "hi", std::numeric_limits<qint64>::max()}}),
        history({{"ann", "Ann", "hi", kNoTime + 100},
                 {"ann", "Ann", "hi", std::numeric_limits<qint64>::max() - 5}})};
    EXPECT_EQ(MessageMerge::merge(parts).size(), 2u);
}

} // namespace
