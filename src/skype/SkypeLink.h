#pragma once

#include "messages/Message.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

// The Skype link: the read-only operations the program uses on a Skype history. Objects are shared
// and reference-counted; every operation may fail with a Failure that says what went wrong.
// Positions in collections run from 1 to the count.

class MessageCollection {
public:
    virtual ~MessageCollection() = default;
    virtual int count() const = 0;
    // Position 1 is the newest message.
    virtual std::shared_ptr<Message> item(int position) const = 0;
};

class Chat {
public:
    virtual ~Chat() = default;
    virtual QString name() const = 0;
    virtual std::shared_ptr<MessageCollection> messages() const = 0;
    virtual QDateTime timeStamp() const = 0;
    // The other person of a one-to-one chat; empty for a group.
    virtual QString partnerHandle() const = 0;
    // The name the chat's people gave it (a group's topic); empty when it has none.
    virtual QString topic() const = 0;
};

// A walk over a collection with its standard enumerator.
template <typename Item> class Walk {
public:
    virtual ~Walk() = default;
    // The next item, or nothing after the last.
    virtual std::shared_ptr<Item> next() = 0;
};

class ChatCollection {
public:
    virtual ~ChatCollection() = default;
    virtual int count() const = 0;
    // The same position gives the same chat for the collection's whole life.
    virtual std::shared_ptr<Chat> item(int position) const = 0;
    // A hint: the caller will read the messages of the chats at these positions next, in this
    // order, passing over the ones between.
    virtual void willRead(const std::vector<int>& positions) const { static_cast<void>(positions); }
};

class Contact {
public:
    virtual ~Contact() = default;
    virtual QString handle() const = 0;
};

class ContactCollection {
public:
    virtual ~ContactCollection() = default;
    virtual std::unique_ptr<Walk<Contact>> walk() const = 0;
};

class ClientControl {
public:
    virtual ~ClientControl() = default;
    // True when a Skype history was found and opens; false when none was found; fails when one was
    // named but cannot be used.
    virtual bool isRunning() const = 0;
};

class SkypeRoot {
public:
    virtual ~SkypeRoot() = default;
    virtual std::shared_ptr<ContactCollection> contacts() = 0;
    virtual std::shared_ptr<ChatCollection> chats() = 0;
    virtual std::shared_ptr<ClientControl> client() = 0;
    // The file the history is read from, once it was opened; empty when there is none.
    virtual QString historyFile() const { return QString(); }
};
