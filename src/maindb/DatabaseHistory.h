#pragma once

#include "ChatQuery.h"
#include "DatabaseSchema.h"
#include "DatabaseSource.h"

#include "messages/History.h"

#include <memory>
#include <optional>
#include <set>

class ChatVerdicts;
class PlanReader;
class TableScan;

namespace SQLite {
class Database;
} // namespace SQLite

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
    // The planned chats are read in one pass over the messages, in the order the table lies.
    bool planReads(const std::vector<size_t>& chats) override;

    // What the messages read along a plan may take in memory before the rest is set aside in a
    // temporary file.
    static constexpr size_t kBufferBytes = size_t(64) << 20;
    void setBufferBytes(size_t bytes) { m_bufferBytes = bytes; }

private:
    // The chats as the first reader found them: every reader made from it reads the same chat by the
    // same position, even when the history changes meanwhile.
    struct ChatList {
        std::vector<HistoryChat> chats;
        std::vector<qint64> ids;
        std::vector<ChatTime> stamps;
        // What of each chat's own row cannot be read as the schema says ("time"), else empty.
        std::vector<QString> unreadable;
    };
    explicit DatabaseHistory(DatabaseSource source);

    void loadChats();
    // The name of the client's index on Messages (convo_id, ...), if it has one.
    std::optional<QString> conversationIndex() const;
    std::shared_ptr<ChatVerdicts> newVerdicts() const;
    // A pass over the table for the planned chats, or for the verdicts alone.
    std::unique_ptr<TableScan> newScan(const std::vector<size_t>& plan, size_t budget);
    // The verdicts of the last pass; where none was made, a pass that keeps no rows makes them.
    const ChatVerdicts& verdicts();
    // Fails where the verdicts leave the chat unreadable, or no chat readable.
    void mustBeReadable(size_t chat, const ChatVerdicts& verdicts);
    // The chat's messages by its own query; nothing where they are not the rows the table gave it.
    std::optional<ChatContent> queried(size_t chat, ChatQuery::Route route);
    [[noreturn]] void failDamaged(size_t chat) const;
    // The chat's messages from the pass along the plan; nothing where its own query reads it.
    std::optional<ChatContent> plannedMessages(size_t chat);
    void scanTable();

    DatabaseSource m_source;
    std::unique_ptr<SQLite::Database> m_db;
    DatabaseSchema m_schema;
    // The chats' own queries on this connection, kept prepared.
    std::unique_ptr<ChatQuery> m_query;
    std::shared_ptr<const ChatList> m_list;
    // Which chats can be read whole and right, from the last pass over the table.
    std::shared_ptr<const ChatVerdicts> m_verdicts;

    // The chats to read along the plan, and where the next one stands.
    std::vector<size_t> m_plan;
    size_t m_planAt = 0;
    std::unique_ptr<PlanReader> m_reader;
    // Whether the plan's chats are read by their own queries: no pass could be made, or one made
    // earlier leaves a plan of a few chats to them.
    bool m_byQueries = false;
    // Whether a pass read the table whole and the client's index told it as it was.
    bool m_tableAgreed = false;
    size_t m_bufferBytes = kBufferBytes;
    // Chats found damaged: they fail however they are asked for again.
    std::set<size_t> m_damaged;
};
