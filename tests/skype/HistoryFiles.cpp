#include "HistoryFiles.h"

#include "DatabaseWriter.h"
#include "ExportWriter.h"
#include "TarWriter.h"

#include "messages/History.h"
#include "skype/SkypeLink.h"

#include <QFile>

#include <SQLiteCpp/Database.h>

QString HistoryFiles::path(const char* name) const {
    return m_dir.filePath(QString::fromUtf8(name));
}

QString HistoryFiles::database(const char* name, const char* sql) {
    SQLite::Database db(path(name).toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db.exec(sql);
    return path(name);
}

QString HistoryFiles::file(const char* name, const QByteArray& bytes) {
    QFile out(path(name));
    out.open(QIODevice::WriteOnly);
    out.write(bytes);
    return path(name);
}

QString HistoryFiles::tar(const char* name, const QList<QPair<QByteArray, QByteArray>>& members) {
    TarWriter tar(path(name));
    for (const auto& [member, content] : members)
        tar.add(member, content);
    tar.finish();
    return path(name);
}

QString HistoryFiles::fixture(const char* name) {
    return QStringLiteral(PARLORIX_FIXTURES_DIR "/") + QString::fromUtf8(name);
}

void writeSyntheticHistory(const SyntheticHistory::Options& options, const QString& db, const QString& json,
                           bool index) {
    SyntheticHistory history(options);
    DatabaseWriter database(db, history, index);
    std::unique_ptr<ExportWriter> exporter;
    if (!json.isEmpty())
        exporter = std::make_unique<ExportWriter>(json, history);
    for (int i = 0; i < history.conversationCount(); ++i) {
        const auto conversation = history.conversation(i);
        database.add(conversation);
        if (exporter)
            exporter->add(conversation);
    }
    database.finish();
    if (exporter)
        exporter->finish();
}

QStringList linesOf(const Chat& chat) {
    QStringList lines{chat.name() + QLatin1Char(' ') + chat.timeStamp().toString(Qt::ISODate)};
    const auto messages = chat.messages();
    for (int k = 1; k <= messages->count(); ++k)
        lines.append(messages->item(k)->senderName() + QStringLiteral(": ") + messages->item(k)->body());
    return lines;
}

QStringList linesOf(const std::vector<HistoryMessage>& messages) {
    QStringList lines;
    for (const HistoryMessage& message : messages)
        lines.append(message.senderName() + QStringLiteral(": ") + message.body());
    return lines;
}
