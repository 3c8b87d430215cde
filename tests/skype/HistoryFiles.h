#pragma once

#include "SyntheticHistory.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

class Chat;
class HistoryMessage;

// Histories written by the tests into a temporary folder.
class HistoryFiles {
public:
    // A database built from SQL.
    QString database(const char* name, const char* sql);
    QString file(const char* name, const QByteArray& bytes);
    // An export .tar holding the given members (name, content) in order.
    QString tar(const char* name, const QList<QPair<QByteArray, QByteArray>>& members);
    QString path(const char* name) const;

    static QString fixture(const char* name);

private:
    QTemporaryDir m_dir;
};

// Writes the synthetic history as a main.db (with the client's index or without) and, where a path
// is given, as messages.json.
void writeSyntheticHistory(const SyntheticHistory::Options& options, const QString& db, const QString& json,
                           bool index = true);
// A chat as the link gives it: its name and time, then each message as "sender: body".
QStringList linesOf(const Chat& chat);
// "sender: body", one a message.
QStringList linesOf(const std::vector<HistoryMessage>& messages);
// "handle at time" (the time in seconds since 1970, or "no time"), one a message.
QStringList handlesAndTimesOf(const std::vector<HistoryMessage>& messages);
