#pragma once

#include <QString>

#include <set>
#include <vector>

class ChatFailures;
class ErrorTrap;
class MainView;
class SharedFiles;
class SkypeRoot;
class TranscriptFiles;
struct Services;

// Writes every group chat that has a message into a transcript of its own, in the subfolder
// "Group chats" of the output folder: the chat header and the message block exactly as the export
// run writes them for one chat, named after the group's topic (GroupChatNames). Written as contacts'
// transcripts are: each into a hidden file moved over the old one only when the whole chat was read
// and written, under the folder's lock. Shows no "Done.": it runs after an export that does.
class GroupChatExport final {
public:
    GroupChatExport(MainView& view, Services& services);
    void run();
    // The same with the files of a longer run (the command line's, whose folder lock spans its
    // passes).
    void run(TranscriptFiles& files);

    // The files the groups' chats shared are wanted in `shared` too, to be saved by the caller.
    void shareFilesInto(SharedFiles* shared) { m_shared = shared; }
    // The chats (by position) whose messages an earlier pass of the same run could not count and
    // reported: their groups keep their files without a second report.
    void setUncounted(std::set<int> chats) { m_uncounted = std::move(chats); }

    static QString subfolderName();
    // The group chats by position, in the order this pass asks for them; a chat that cannot be told
    // to be a group is left out (the pass reports it).
    static std::vector<int> groupsOf(SkypeRoot& root);

private:
    // The subfolder of the folder the run opened, made there when missing and locked; fails when it
    // is a link or not a folder. `busy` receives why it may not be written, if so.
    QString subfolder(TranscriptFiles& files, const QString& folderText, QString* busy) const;
    void writeGroups(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root, TranscriptFiles& files,
                     const QString& folder);

    MainView& m_view;
    Services& m_services;
    std::set<int> m_uncounted;
    SharedFiles* m_shared = nullptr;
};
