#pragma once

#include <QSet>
#include <QString>

// The file names of group chats' transcripts, ".txt" not included. A group is named by its topic,
// or by its id when it has none, made safe the way a handle's transcript name is, followed by a
// mark made from its id: " [1a2b3c4d]". The name depends on the group alone, so that a group never
// takes over another group's file from one run to the next, whatever groups come and go. Every
// name fits the file systems the program runs on, also as the hidden file it is first written to.
class GroupChatNames final {
public:
    // The longest name, in UTF-8 bytes: 255 bytes (or UTF-16 units) less the room the staged
    // ".<name>.txt.XXXXXX.part" needs, with some to spare.
    static constexpr int kMaxBytes = 200;

    // The group's name.
    static QString nameOf(const QString& topic, const QString& id);
    // The eight hexadecimal digits that tell the group's file from those of other groups of its topic.
    static QString mark(const QString& id);

    // Whether no group of this run took the name before, ignoring letter case and how accented
    // letters are composed, as Windows and macOS compare names. Only one group listed twice, or two
    // groups of one topic whose marks agree, are refused.
    bool take(const QString& name);

    // The topic (else the id) as a safe file name, cut to `maxBytes` also when its letters are
    // decomposed; never empty.
    static QString safeName(const QString& topic, const QString& id, bool windowsNames,
                            int maxBytes = kMaxBytes);

private:
    QSet<QString> m_taken;
};
