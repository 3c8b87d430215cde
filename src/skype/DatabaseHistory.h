#pragma once

#include "History.h"

#include <map>
#include <memory>
#include <optional>

class QTemporaryDir;

namespace SQLite {
class Database;
} // namespace SQLite

struct sqlite3_stmt;

// The classic client's main.db, opened read-only; nothing is ever written beside it. Columns missing
// in older clients read as NULL.
class DatabaseHistory final : public History {
public:
    // Fails with a description naming the path when it is not a usable Skype history.
    explicit DatabaseHistory(const QString& path);
    ~DatabaseHistory() override;

    QStringList contacts() override;
    const std::vector<HistoryChat>& chats() override;
    ChatContent messages(size_t chat) override;
    ChatTime timeStamp(size_t chat) override;
    std::unique_ptr<History> reader() const override;

private:
    // What SQLite opens for the history at `path`.
    struct Source {
        QString name;
        bool isUri = false;
        // A private copy, where the history's own folder cannot be read without writing to it.
        std::shared_ptr<QTemporaryDir> copy;
    };
    static Source sourceFor(const QString& path);
    DatabaseHistory(QString path, Source source);

    void loadChats();
    bool hasConversationIndex() const;
    void prepareMessageQuery();
    // The column's name when the table has it; older clients lack some.
    std::optional<QString> column(const QString& table, const QString& name) const;
    [[noreturn]] void fail(const std::exception& error) const;

    QString m_path;
    Source m_source;
    std::unique_ptr<SQLite::Database> m_db;
    // The one query run per chat, kept prepared; driven through the C interface in the hot loop.
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> m_messageQuery;
    // table -> its columns, lower case
    std::map<QString, QStringList> m_columns;
    std::vector<HistoryChat> m_chats;
    std::vector<qint64> m_chatIds;
    std::vector<ChatTime> m_stamps;
    bool m_chatsLoaded = false;
};
