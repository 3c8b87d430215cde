#pragma once

#include "messages/History.h"

#include <memory>
#include <vector>

class PlannedReads;

// Several histories of one person read as one: the classic client's main.db of each computer it ran
// on and the data export hold each a piece of the same chats.
//
// A chat is the same chat in every history that holds it: a one-to-one chat by its partner's handle
// (the export's "8:alice" is main.db's "alice"), any other by its name (main.db's "19:...@thread.skype"
// identity is the export's conversation id), and a history's second chat of one handle or name by the
// other histories' second. Chats come in the order of the first history given that holds them, then
// those of the next that the first lacks, and so on; each takes its name and partner from the first
// that holds it, and the first topic one of them gives. Its time is the earliest one of them gives (the
// classic client's creation time comes before its first message; the export's time is its earliest
// message). Its messages are those of all, each once (see MessageMerge). The contacts are all of
// theirs, each handle once.
//
// Each history is read along its own part of the plan the set is told, as it would be alone: main.db
// in one pass over its messages, the export with its chats read ahead. A chat that fails in one of them
// fails as a whole; a history that can no longer be read ends the run as it would alone.
class HistorySet final : public History {
public:
    // `members`: two or more histories, in the order given, none the same as another.
    explicit HistorySet(std::vector<std::unique_ptr<History>> members);
    ~HistorySet() override;

    QStringList contacts() override;
    const std::vector<HistoryChat>& chats() override;
    ChatContent messages(size_t chat) override;
    ChatTime timeStamp(size_t chat) override;
    std::unique_ptr<History> reader() const override;
    // Each history is told its part, and reads along it; the set reads along the plan.
    bool planReads(const std::vector<size_t>& chats) override;

    // Where a chat of the set lies in one of the histories.
    struct Part {
        size_t member = 0;
        size_t chat = 0;
    };
    // Every history holding the chat, in the order given.
    const std::vector<Part>& partsOf(size_t chat);
    const std::vector<std::unique_ptr<History>>& members() const { return m_members; }

private:
    struct Layout {
        std::vector<HistoryChat> chats;
        std::vector<std::vector<Part>> parts;
    };
    HistorySet(std::vector<std::unique_ptr<History>> members, std::shared_ptr<const Layout> layout);
    const Layout& layout();
    PlannedReads& reads(size_t member);
    ChatTime stampOf(const Part& part);

    std::vector<std::unique_ptr<History>> m_members;
    std::shared_ptr<const Layout> m_layout;
    // A chat's time, once reading its messages told it.
    struct KnownStamp {
        bool known = false;
        ChatTime time;
    };
    std::vector<KnownStamp> m_stamps;
    // Last: their reads ahead end before the histories they read go.
    std::vector<std::unique_ptr<PlannedReads>> m_reads;
};
