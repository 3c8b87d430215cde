#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// One message as the Skype link gives it, whichever history it comes from.
class Message {
public:
    virtual ~Message() = default;
    virtual QString senderName() const = 0;
    virtual QString body() const = 0;

    // The same two texts in UTF-8, where the message holds them so: a transcript in UTF-8 takes
    // them as they are. Valid while the message lives; nothing where only the texts are to be had.
    struct Utf8 {
        QByteArrayView senderName;
        QByteArrayView body;
    };
    virtual std::optional<Utf8> utf8() const { return std::nullopt; }
};
