#pragma once

#include <QHash>
#include <QSet>
#include <QString>

// The file names of group chats' transcripts, ".txt" not included. A group is named by its topic,
// or by its id when it has none, made safe the way a handle's transcript name is; names that would
// clash get " (2)", " (3)", ... in the order they are asked for. Every name fits the file systems
// the program runs on, also as the hidden file it is first written to.
class GroupChatNames final {
public:
    // The longest name, in UTF-8 bytes: 255 bytes (or UTF-16 units) less the room the staged
    // ".<name>.txt.XXXXXX.part" needs, with some to spare.
    static constexpr int kMaxBytes = 200;

    // The next group's name; never one given before, ignoring letter case and how accented letters
    // are composed, as Windows and macOS compare names.
    QString take(const QString& topic, const QString& id);

    // The topic (else the id) as a safe file name, cut to `maxBytes`; never empty.
    static QString safeName(const QString& topic, const QString& id, bool windowsNames,
                            int maxBytes = kMaxBytes);

private:
    QSet<QString> m_taken;
    // Per topic (or id) named so far, the number its next clash starts from: every lower one is
    // taken already, and stays taken, so a history with many groups of one topic is not counted up
    // from 2 again for each.
    QHash<QString, int> m_nextNumber;
};
