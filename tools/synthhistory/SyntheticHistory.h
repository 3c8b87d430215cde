#pragma once

#include <QString>

#include <cstdint>
#include <functional>
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
        std::vector<Message> messages; // oldest first
    };

    explicit SyntheticHistory(const Options& options);

    const Person& me() const { return m_me; }
    const std::vector<Person>& people() const { return m_people; }
    int conversationCount() const { return m_options.contacts + m_options.groups; }
    // Builds conversation `index` (0-based); the same index gives the same conversation.
    Conversation conversation(int index);

private:
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
