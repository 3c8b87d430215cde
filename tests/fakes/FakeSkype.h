#pragma once

#include "skype/ReadProgress.h"
#include "skype/SkypeConnector.h"
#include "skype/SkypeLink.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>

// A scripted Skype link. Any single operation can be made to fail: "handle" fails every handle
// read, "handle#2" only that of the second contact, "body#1.3" only the body of message 3 of
// chat 1. Operations: create, client, running, contacts, contactWalk, next, handle, chats,
// chatCount, chatItem, name, messages, timeStamp, partner, topic, messageCount,
// messageItem, sender, body.
class FakeSkype final : public SkypeConnector {
public:
    struct FakeMessage {
        QString sender;
        QString body;
    };
    struct FakeChat {
        QString name;
        QString partner;
        QDateTime stamp;
        // Position 1 first, as the link gives them: newest first.
        QList<FakeMessage> messages;
        QString topic;
    };

    std::shared_ptr<SkypeRoot> createRoot() override;
    void chooseHistories(const QStringList& paths) override { chosenHistories = paths; }
    QStringList chosenHistories;
    // Told, as the real link tells it, of the chats counted, planned and asked and the messages read.
    void setReadProgress(ReadProgress* value) override { progress = value; }
    ReadProgress* progress = nullptr;

    // Fails when the operation, or the operation on this object, is scripted to fail; counts calls.
    void touch(const QString& operation, const QString& object = QString()) const;

    // A one-to-one chat whose messages are given oldest first ("Ann: hi").
    FakeChat& addChat(const QString& partner, const QDateTime& stamp, const QStringList& linesOldestFirst);

    bool running = true;
    QStringList contacts;
    QList<FakeChat> chats;
    QSet<QString> failing;
    // When set, a scripted failure is one of the history itself, which ends the run for this reason.
    QString failingEndsRunBecause;
    mutable QMap<QString, int> calls;
    int rootsCreated = 0;
    // Runs inside every message read (to act while an export runs).
    std::function<void()> onMessageRead;
    // Runs at every operation, with its name and object ("topic", "2"), before it may fail.
    std::function<void(const QString& operation, const QString& object)> onTouch;
};
