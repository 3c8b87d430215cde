#pragma once

#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <set>

class ChatFailures;
class ErrorTrap;
class MainView;
class SkypeRoot;
class TranscriptFiles;
struct Services;

// "3. Save Checked Chat Histories": one transcript per ticked contact. The old transcripts of the
// ticked contacts are set aside first, then every chat is offered to every ticked row whose text is
// the chat's partner handle. The window handles its events once per row and once per chat, and ticks
// are read afresh at every step; the folder is the one the run opened at its start, whatever its text
// says meanwhile. A transcript replaces the old one only when every chat of its contact was read and
// written; otherwise the old one stays, and a box says so. Past the boxes of its first failing chats,
// a run counts the others and says how many in one box. A contact unticked during the run keeps its
// old transcript, and so does one without any chat in this history (a box names those). A write that
// fails because the folder is gone, the disk is full or writing there is refused, or a history that
// can no longer be read, ends the run after that chat, with every old transcript kept and one box that
// says why.
class ExportRun final {
public:
    ExportRun(MainView& view, Services& services);
    void run();
    // The same with the files of a longer run (the command line's, whose folder lock spans its
    // passes).
    void run(TranscriptFiles& files);
    // The chats (by position) whose messages could not be counted, each reported once.
    const std::set<int>& uncountedChats() const { return m_uncounted; }

    // The box that names the contacts who have no chat in this history, whose transcripts stay as
    // they were: its first line.
    static QString withoutChatHeading();

private:
    void restartTranscripts(ErrorTrap& trap, TranscriptFiles& files);
    void writeTranscripts(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root, TranscriptFiles& files);
    void writeChat(ErrorTrap& trap, SkypeRoot& root, TranscriptFiles& files, int chat, int row);
    // A chat went wrong: the transcripts it may belong to keep their old content.
    void spoilChat(TranscriptFiles& files, const std::optional<QString>& partner);
    void commitTranscripts(ErrorTrap& trap, ChatFailures& failures, TranscriptFiles& files);
    // A contact started afresh or written to whose row is no longer ticked: its transcript is left.
    void leaveUnticked(TranscriptFiles& files, const QList<int>& rows);
    void reportContactsWithoutChat(TranscriptFiles& files);

    // The output folder's text as the run read it at its start.
    QString m_folderText;
    // The transcripts of the rows started afresh or written to, by row.
    std::map<int, QString> m_rowPaths;
    // The transcripts the current chat was written to.
    QStringList m_chatPaths;
    std::set<int> m_uncounted;

    MainView& m_view;
    Services& m_services;
};
