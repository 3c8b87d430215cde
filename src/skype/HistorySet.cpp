#include "HistorySet.h"

#include "MessageMerge.h"
#include "PlannedReads.h"

#include "base/Failure.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <utility>

namespace {

ChatTime earlierOf(const ChatTime& a, const ChatTime& b) {
    if (!a || !b)
        return a ? a : b;
    return std::min(*a, *b);
}

} // namespace

HistorySet::HistorySet(std::vector<std::unique_ptr<History>> members)
    : m_members(std::move(members))
    , m_reads(m_members.size()) {}

HistorySet::HistorySet(std::vector<std::unique_ptr<History>> members, std::shared_ptr<const Layout> layout)
    : m_members(std::move(members))
    , m_layout(std::move(layout))
    , m_stamps(m_layout ? m_layout->chats.size() : 0)
    , m_reads(m_members.size()) {}

HistorySet::~HistorySet() = default;

const HistorySet::Layout& HistorySet::layout() {
    if (m_layout)
        return *m_layout;
    auto layout = std::make_shared<Layout>();
    // By what tells a chat in every history, and by which of that history's chats of it this is.
    std::map<std::pair<QString, int>, size_t> byIdentity;
    for (size_t member = 0; member < m_members.size(); ++member) {
        const std::vector<HistoryChat>& chats = m_members[member]->chats();
        std::map<QString, int> seen;
        for (size_t chat = 0; chat < chats.size(); ++chat) {
            const HistoryChat& each = chats[chat];
            const QString identity = each.partner.isEmpty() ? QStringLiteral("chat ") + each.name
                                                            : QStringLiteral("with ") + each.partner;
            const auto [found, added] =
                byIdentity.try_emplace({identity, seen[identity]++}, layout->chats.size());
            if (added) {
                layout->chats.push_back(each);
                layout->parts.push_back({Part{member, chat}});
                continue;
            }
            layout->parts[found->second].push_back(Part{member, chat});
            QString& topic = layout->chats[found->second].topic;
            if (topic.isEmpty())
                topic = each.topic;
        }
    }
    m_layout = std::move(layout);
    m_stamps.assign(m_layout->chats.size(), {});
    return *m_layout;
}

const std::vector<HistorySet::Part>& HistorySet::partsOf(size_t chat) {
    return layout().parts.at(chat);
}

QStringList HistorySet::contacts() {
    QStringList handles;
    for (const std::unique_ptr<History>& member : m_members)
        handles += member->contacts();
    sortHandles(handles);
    return handles;
}

const std::vector<HistoryChat>& HistorySet::chats() {
    return layout().chats;
}

PlannedReads& HistorySet::reads(size_t member) {
    std::unique_ptr<PlannedReads>& reads = m_reads.at(member);
    if (!reads)
        reads = std::make_unique<PlannedReads>(*m_members.at(member));
    return *reads;
}

History::ChatContent HistorySet::messages(size_t chat) {
    const std::vector<Part>& parts = partsOf(chat);
    std::vector<std::vector<HistoryMessage>> read;
    read.reserve(parts.size());
    ChatTime earliest;
    std::vector<SharedFile> sharedFiles;
    for (const Part& part : parts) {
        ChatContent content = reads(part.member).read(part.chat);
        earliest = earlierOf(earliest, content.timeStampKnown ? content.timeStamp
                                                              : m_members[part.member]->timeStamp(part.chat));
        read.push_back(std::move(content.messages));
        std::move(content.sharedFiles.begin(), content.sharedFiles.end(), std::back_inserter(sharedFiles));
    }
    ChatContent merged;
    // Every export's files, in the order of the messages that name them; an object two exports hold
    // is saved once, from the first.
    std::stable_sort(sharedFiles.begin(), sharedFiles.end(),
                     [](const SharedFile& a, const SharedFile& b) { return a.time < b.time; });
    merged.sharedFiles = std::move(sharedFiles);
    merged.messages = read.size() == 1 ? std::move(read.front()) : MessageMerge::merge(read);
    merged.timeStampKnown = true;
    merged.timeStamp = earliest;
    m_stamps.at(chat) = {true, earliest};
    return merged;
}

ChatTime HistorySet::stampOf(const Part& part) {
    if (const std::unique_ptr<PlannedReads>& reads = m_reads.at(part.member)) {
        if (const std::optional<ChatTime> stamp = reads->stampReadAhead(part.chat))
            return *stamp;
    }
    return m_members[part.member]->timeStamp(part.chat);
}

ChatTime HistorySet::timeStamp(size_t chat) {
    const std::vector<Part>& parts = partsOf(chat);
    if (m_stamps.at(chat).known)
        return m_stamps[chat].time;
    ChatTime earliest;
    for (const Part& part : parts)
        earliest = earlierOf(earliest, stampOf(part));
    m_stamps[chat] = {true, earliest};
    return earliest;
}

std::unique_ptr<History> HistorySet::reader() const {
    std::vector<std::unique_ptr<History>> readers;
    for (const std::unique_ptr<History>& member : m_members)
        readers.push_back(member->reader());
    return std::unique_ptr<History>(new HistorySet(std::move(readers), m_layout));
}

bool HistorySet::planReads(const std::vector<size_t>& chats) {
    try {
        layout();
    } catch (const Failure&) {
        return false;
    }
    std::vector<std::vector<size_t>> plans(m_members.size());
    for (const size_t chat : chats) {
        if (chat >= m_layout->parts.size())
            continue;
        for (const Part& part : m_layout->parts[chat])
            plans[part.member].push_back(part.chat);
    }
    for (size_t member = 0; member < m_members.size(); ++member)
        reads(member).plan(std::move(plans[member]));
    return true;
}
