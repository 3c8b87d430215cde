#include "ExportRun.h"

#include "ChatFailures.h"
#include "ExportStart.h"
#include "FileRoutines.h"
#include "SharedFiles.h"
#include "Transcript.h"
#include "TranscriptFiles.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/MainView.h"
#include "base/MessageBoxes.h"
#include "base/PointerFeedback.h"
#include "base/Services.h"
#include "skype/SkypeLink.h"

#include <vector>

ExportRun::ExportRun(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

void ExportRun::run() {
    TranscriptFiles files(m_services.files);
    // Asked for as the run starts, as its folder is: a change meanwhile counts from the next run.
    std::unique_ptr<SharedFiles> shared;
    if (!m_shared && m_view.saveSharedFiles()) {
        shared = std::make_unique<SharedFiles>(m_services.files);
        shareFilesInto(shared.get(), true);
    }
    run(files);
    if (shared)
        shareFilesInto(nullptr, false);
}

void ExportRun::shareFilesInto(SharedFiles* shared, bool saveHere) {
    m_shared = shared;
    m_saveShared = saveHere;
}

void ExportRun::run(TranscriptFiles& files) {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton7_Click")));
    const std::shared_ptr<SkypeRoot> root = startExport(trap, m_view, m_services, files, &m_folderText);
    if (!root)
        return;
    restartTranscripts(trap, files);
    ChatFailures failures(trap);
    writeTranscripts(trap, failures, *root, files);
    commitTranscripts(trap, failures, files);
    reportContactsWithoutChat(files);
    if (m_shared && m_saveShared)
        trap.step(148,
                  [&] { m_shared->save(trap, m_services.boxes, files, [&] { m_view.processEvents(); }); });
    trap.step(152, [&] { m_view.setMousePointer(Pointer::Default); });
    trap.step(154, [&] { m_services.boxes.inform(QStringLiteral("Done.")); });
}

// The first pass: the old transcripts of the ticked contacts no longer count. They are replaced
// once the new ones are complete.
void ExportRun::restartTranscripts(ErrorTrap& trap, TranscriptFiles& files) {
    const int rows = trap.count(106, [&] { return m_view.rowCount(); }, 0);
    for (int row = 1; row <= rows; ++row) {
        trap.step(108, [&] { m_view.processEvents(); });
        if (!trap.test(110, [&] { return m_view.isRowChecked(row); }))
            continue;
        // A handle that cannot name a file in the folder gets no path, and nothing is done for it.
        std::optional<QString> path;
        trap.step(112, [&] { path = transcriptPath(m_folderText, m_view.rowText(row)); });
        if (path) {
            m_rowPaths.emplace(row, *path);
            trap.step(114, [&] {
                m_view.processEvents();
                files.restart(*path);
            });
        }
    }
}

void ExportRun::writeTranscripts(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root,
                                 TranscriptFiles& files) {
    const int failedBefore = trap.failures();
    const int chats = trap.count(118, [&] { return root.chats()->count(); }, 0);
    if (trap.failures() != failedBefore)
        files.spoilAll(); // no chat can be written: every old transcript stays
    if (files.mustStop(trap))
        return;
    // Every chat's messages are asked for, in order: the link is told so before the first.
    try {
        std::vector<int> plan(static_cast<size_t>(qMax(chats, 0)));
        for (int chat = 1; chat <= chats; ++chat)
            plan[static_cast<size_t>(chat - 1)] = chat;
        root.chats()->willRead(plan);
    } catch (...) {
        // only a hint: each chat is read when it is asked for
    }
    for (int chat = 1; chat <= chats; ++chat) {
        const ChatFailures::Scope scope(failures, chat);
        const int failedBeforeChat = trap.failures();
        m_chatPaths.clear();
        trap.step(120, [&] { m_view.processEvents(); });
        // Every ticked row is offered the chat, but only rows whose text is the partner handle can
        // take it: those are looked up rather than walked to. A partner handle that cannot be read
        // walks every row, so each reports the failure and takes the chat, as the trap says.
        std::optional<QString> partner;
        try {
            partner = root.chats()->item(chat)->partnerHandle();
        } catch (...) {
        }
        const int failedBeforeCount = trap.failures();
        const bool hasMessages =
            trap.test(124, [&] { return root.chats()->item(chat)->messages()->count() > 0; });
        if (trap.failures() != failedBeforeCount)
            m_uncounted.insert(chat);
        // The history can no longer be read: no row takes the chat, and the run ends after it.
        if (hasMessages && !files.mustStop(trap)) {
            const int rows = trap.count(126, [&] { return m_view.rowCount(); }, 0);
            if (partner) {
                for (const int row : m_view.rowsWithText(*partner)) {
                    if (row > rows)
                        continue;
                    if (trap.test(128, [&] { return m_view.isRowChecked(row); }))
                        writeChat(trap, root, files, chat, row);
                    else
                        leaveUnticked(files, {row}); // this chat is not in it: it would hold less
                }
            } else {
                for (int row = 1; row <= rows; ++row) {
                    if (!trap.test(128, [&] { return m_view.isRowChecked(row); }))
                        continue;
                    if (!trap.test(130, [&] {
                            return root.chats()->item(chat)->partnerHandle() == m_view.rowText(row);
                        }))
                        continue;
                    writeChat(trap, root, files, chat, row);
                }
            }
        }
        if (trap.failures() != failedBeforeChat)
            spoilChat(files, partner);
        // The folder is gone, the disk full, writing refused or the history unreadable: every later
        // chat would fail the same way, with boxes of its own.
        if (files.mustStop(trap))
            break;
    }
}

void ExportRun::writeChat(ErrorTrap& trap, SkypeRoot& root, TranscriptFiles& files, int chat, int row) {
    std::optional<QString> path;
    trap.step(132, [&] { path = transcriptPath(m_folderText, m_view.rowText(row)); });
    if (!path)
        return;
    m_rowPaths.emplace(row, *path);
    m_chatPaths.append(*path);
    trap.step(134, [&] { files.append(*path, Transcript::header(*root.chats()->item(chat))); });
    const Transcript::Block block =
        Transcript::messageBlock(trap, 140, 142, [&] { return root.chats()->item(chat)->messages(); });
    const bool written = trap.step(146, [&] { block.appendTo(files, *path); });
    if (written && m_shared)
        trap.step(147,
                  [&] { m_shared->want(*path, chat, root.chats()->item(chat)->messages()->sharedFiles()); });
}

void ExportRun::spoilChat(TranscriptFiles& files, const std::optional<QString>& partner) {
    if (!partner) {
        files.spoilAll();
        return;
    }
    // The paths the chat went to, and those of its contact's rows.
    for (const QString& path : std::as_const(m_chatPaths))
        files.spoil(path);
    for (const int row : m_view.rowsWithText(*partner)) {
        try {
            files.spoil(transcriptPath(m_folderText, m_view.rowText(row)));
        } catch (...) {
        }
    }
}

void ExportRun::leaveUnticked(TranscriptFiles& files, const QList<int>& rows) {
    for (const int row : rows) {
        const auto found = m_rowPaths.find(row);
        if (found == m_rowPaths.end())
            continue;
        bool ticked = true; // a tick that cannot be read counts as set, as the trap has it
        try {
            ticked = m_view.isRowChecked(row);
        } catch (...) {
        }
        if (!ticked) {
            files.leave(found->second);
            if (m_shared)
                m_shared->forget(found->second);
        }
    }
}

// The end of the second pass: each transcript takes the place of the old one, or the old one stays.
// Past the first few boxes, the transcripts that cannot be put in place are counted, as chats are.
void ExportRun::commitTranscripts(ErrorTrap& trap, ChatFailures& failures, TranscriptFiles& files) {
    // Unticked since: the user no longer wants them written.
    QList<int> rows;
    for (const auto& [row, path] : m_rowPaths)
        rows.append(row);
    leaveUnticked(files, rows);
    // Flushed on other threads, several at once, and moved in this order. After a stop nothing more
    // is put in place: the old transcripts stay.
    int transcript = 0;
    for (const QString& path : files.pending()) {
        if (files.stopped())
            break;
        const ChatFailures::Scope scope(failures, --transcript);
        trap.step(150, [&] { files.commitLater(path, failures, transcript, 150); });
    }
    files.finish();
    failures.report(m_services.boxes);
    if (files.stopped())
        m_services.boxes.show(files.stopMessage(), QString(), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
    else if (!files.kept().isEmpty())
        m_services.boxes.show(files.keptMessage(), QString(), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
}

QString ExportRun::withoutChatHeading() {
    return QStringLiteral("These contacts have no chat in this history, so their transcripts were left as "
                          "they were:\r\n");
}

// Once, after the transcripts are in place: a history that no longer holds a contact's chats (a newer
// profile, an export of part of them) leaves that contact's transcript as it was, which it should not
// be taken for this history's.
void ExportRun::reportContactsWithoutChat(TranscriptFiles& files) {
    if (files.stopped())
        return;
    QStringList handles;
    for (const auto& [row, path] : m_rowPaths) {
        try {
            if (files.unchanged(path))
                handles.append(m_view.rowText(row));
        } catch (...) {
        }
    }
    handles.removeDuplicates();
    if (!handles.isEmpty())
        m_services.boxes.show(withoutChatHeading() + handles.join(QStringLiteral("\r\n")), QString(),
                              MessageBoxes::Buttons::Ok, MessageBoxes::Icon::None, MessageBoxes::Answer::Ok);
}
