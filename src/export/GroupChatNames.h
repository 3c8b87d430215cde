#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

// The file names of group chats' transcripts, ".txt" not included. A group is named by its topic,
// or by its id when it has none, made safe the way a handle's transcript name is, followed by a
// mark made from its id: " [1a2b3c4d5e6f7a8b]". The name depends on the group alone, so that a group
// never takes over another group's file from one run to the next, whatever groups come and go. Every
// name fits the file systems the program runs on, also as the hidden file it is first written to.
//
// Earlier versions marked a group with the first eight digits of its mark only, which two ids share
// often enough to be found in a moment. A file so named is still its group's, where no other group
// of the run would have had that name.
class GroupChatNames final {
public:
    // The longest name, in UTF-8 bytes: 255 bytes (or UTF-16 units) less the room the staged
    // ".<name>.txt.XXXXXX.part" needs, with some to spare.
    static constexpr int kMaxBytes = 200;
    // 64 bits: ids that Skype gives do not share them by chance.
    static constexpr int kMarkDigits = 16;
    static constexpr int kEarlierMarkDigits = 8;

    // The group's name; `copy` 2, 3, ... for a later group of a run whose name an earlier one has.
    static QString nameOf(const QString& topic, const QString& id, int copy = 1);
    // The name earlier versions gave the group.
    static QString earlierNameOf(const QString& topic, const QString& id);
    // The hexadecimal digits that tell the group's file from those of other groups of its topic.
    static QString mark(const QString& id, int digits = kMarkDigits);

    // Every group of the run, before the first is named: an earlier version's file that two of them
    // would both have had cannot be told to be either's.
    void expect(const QString& topic, const QString& id);
    // The name of the group's file in this run. The earlier versions' name where a file of that name
    // is there (`exists`) and no other group of the run has that name too; else its own, or, where a
    // group of this run has that already, as Windows and macOS compare names (letter case ignored,
    // accented letters composed or not), a copy's.
    QString take(const QString& topic, const QString& id, const std::function<bool(const QString&)>& exists);

    // A text as a file name here: escaped as a handle's transcript name is, and beyond it what no
    // file name can hold (a handle with those is refused, where a group must still get a file); control
    // characters too, so that a name stays one line in a listing. "." and ".." never stand alone.
    static QString escapedName(const QString& text, bool windowsNames);
    // The room a name takes where it is longest: macOS keeps names decomposed ("e" and its accent, a
    // Hangul syllable as its letters), which can take twice the bytes or more.
    static qsizetype bytesOf(const QString& name);

    // The topic (else the id) as a safe file name, cut to `maxBytes` also when its letters are
    // decomposed; never empty.
    static QString safeName(const QString& topic, const QString& id, bool windowsNames,
                            int maxBytes = kMaxBytes);

private:
    QSet<QString> m_taken;
    QHash<QString, int> m_earlier; // how many groups of the run have each earlier name
};
