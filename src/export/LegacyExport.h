#pragma once

#include "ChatNameIndex.h"

#include <QString>

#include <optional>
#include <vector>

class ChatFailures;
class ErrorTrap;
class MainView;
class SkypeRoot;
class TranscriptFiles;
struct Services;

// "Old 3.": the older transcripts. Rows outer, chats inner; a chat is a contact's when the row text
// occurs in its name, ignoring case. "Export All" writes every chat of the contact in full; the
// date range writes one entry per chat stamped inside the range. Transcripts are not deleted first:
// the first write for a row starts its file afresh, and a file the run does not write keeps its
// content. A row's new transcript replaces the old one only when all of it was read and written.
// A write that fails because the folder is gone, the disk is full or writing there is refused, or a
// history that can no longer be read, ends the run after that chat; the rows not finished keep their
// transcripts, and one box says why.
class LegacyExport final {
public:
    LegacyExport(MainView& view, Services& services);
    void run();
    // The same with the files of a longer run (the command line's, whose folder lock spans its
    // passes).
    void run(TranscriptFiles& files);

private:
    void exportAll(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root, TranscriptFiles& files,
                   const QString& path, int row);
    void exportRange(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root, TranscriptFiles& files,
                     const QString& path, int row);
    void planReads(SkypeRoot& root, int rows);
    // The chats, up to `count`, whose name may hold the row's text; the others cannot belong to it.
    std::vector<int> candidates(SkypeRoot& root, int row, int count);

    std::optional<ChatNameIndex> m_names;

    MainView& m_view;
    Services& m_services;
};
