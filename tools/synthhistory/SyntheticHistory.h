#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

// A made-up Skype history, the same every time for the same seed: contacts, one-to-one and group
// conversations, every kind of message, markup, non-Latin text and emoji, edited and removed
// messages. It is produced one conversation at a time, so millions of messages need little memory.
class SyntheticHistory {
public:
    struct Options {
        quint64 seed = 1;
        int contacts = 20;
        int groups = 4;
        qint64 messages = 1000;
    };

    enum class Kind {
        Text,
        Emote,
        ContactRequest,
        Sms,
        CallStarted,
        CallEnded,
        Files,
        Contacts,
        Media,
        Event
    };

    struct Person {
        QString handle;
        QString name;
        bool inContactList;
    };

    struct Message {
        qint64 id;
        qint64 time;        // seconds since 1970, UTC
        int millis;         // the export's fraction of a second
        int fractionDigits; // how many the export writes (0 to 3)
        const Person* author;
        Kind kind;
        QString markup; // body_xml / content
        bool edited = false;
        bool removed = false;
    };

    struct Conversation {
        qint64 id;
        bool group;
        QString identity; // the database's
        QString exportId; // the export's
        QString topic;
        std::optional<qint64> created; // the database's creation time: its first message's
        std::vector<Message> messages; // oldest first
    };

    // A piece of the history, as one computer's client or one export holds it: the messages whose
    // times lie from `from` to `to`, both included, with the times its clock gives them.
    struct Slice {
        qint64 from;
        qint64 to;
    };
    // `count` pieces of the whole span of times, one after the other, each reaching `overlap` seconds
    // into the next, the first from the earliest time and the last to the latest.
    static std::vector<Slice> slices(int count, qint64 overlap);
    static constexpr qint64 kSliceOverlap = 30 * 86400;
    // The conversation with the messages a slice holds, their times moved by `clock` seconds (the
    // slice's clock running ahead, or behind); its creation time stays.
    static Conversation cut(const Conversation& whole, const Slice& slice, qint64 clock);

    explicit SyntheticHistory(const Options& options);

    const Person& me() const { return m_me; }
    const std::vector<Person>& people() const { return m_people; }
    int conversationCount() const { return m_options.contacts + m_options.groups; }
    // Builds conversation `index` (0-based); the same index gives the same conversation.
    Conversation conversation(int index);

private:
    // Conversations start from 2012, within about six years; each lasts up to about two.
    static constexpr qint64 kFirstStart = 1325376000;
    static constexpr qint64 kStarts = 200000000;
    static constexpr qint64 kSpan = 60000000;

    quint64 draw(quint64 below);
    QString sentence(int words);
    QString body(Kind kind, const Conversation& conversation);
    Kind kindAt();

    Options m_options;
    std::mt19937_64 m_random;
    Person m_me;
    std::vector<Person> m_people; // contacts first, then people only seen in groups
    std::vector<qint64> m_shares;
    std::vector<qint64> m_firstIds;
};
