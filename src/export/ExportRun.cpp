#include "ExportRun.h"

#include "FileRoutines.h"
#include "Transcript.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/MainView.h"
#include "base/MessageBoxes.h"
#include "base/PointerFeedback.h"
#include "base/Services.h"
#include "skype/AccessGuidance.h"
#include "skype/SkypeConnector.h"
#include "skype/SkypeLink.h"

#include <optional>

ExportRun::ExportRun(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

void ExportRun::run() {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton7_Click")));
    std::shared_ptr<SkypeRoot> root;
    // Without a link, or without knowing whether Skype runs, the run would delete the ticked
    // contacts' transcripts and have nothing to write in their place: it ends here instead.
    if (!trap.step(100, [&] { root = m_services.skype.createRoot(); }))
        return;
    if (!trap.test(102, [&] { return FolderExists(m_view.outputFolderText()); })) {
        trap.step(158, [&] {
            m_services.boxes.inform(QStringLiteral("Folder does not exist. Please select another folder."));
        });
        return;
    }
    bool running = false;
    if (!trap.step(104, [&] { running = root->client()->isRunning(); }))
        return;
    if (!running) {
        trap.step(156, [&] { AccessGuidance(m_view, m_services).showHelp(); });
        return;
    }
    deleteOldTranscripts(trap);
    writeTranscripts(trap, *root);
    trap.step(152, [&] { m_view.setMousePointer(Pointer::Default); });
    trap.step(154, [&] { m_services.boxes.inform(QStringLiteral("Done.")); });
}

void ExportRun::deleteOldTranscripts(ErrorTrap& trap) {
    const int rows = trap.count(106, [&] { return m_view.rowCount(); }, 0);
    for (int row = 1; row <= rows; ++row) {
        trap.step(108, [&] { m_view.processEvents(); });
        if (!trap.test(110, [&] { return m_view.isRowChecked(row); }))
            continue;
        // A handle that cannot name a file in the folder gets no path, and nothing is deleted for it.
        std::optional<QString> path;
        trap.step(112, [&] { path = transcriptPath(m_view.outputFolderText(), m_view.rowText(row)); });
        if (path)
            trap.step(114, [&] { DeleteFileIfPresent(*path, m_view); });
    }
}

void ExportRun::writeTranscripts(ErrorTrap& trap, SkypeRoot& root) {
    const int chats = trap.count(118, [&] { return root.chats()->count(); }, 0);
    for (int chat = 1; chat <= chats; ++chat) {
        trap.step(120, [&] { m_view.processEvents(); });
        if (!trap.test(124, [&] { return root.chats()->item(chat)->messages()->count() > 0; }))
            continue;
        // Every ticked row is offered the chat, but only rows whose text is the partner handle can
        // take it: those are looked up rather than walked to. A partner handle that cannot be read
        // walks every row, so each reports the failure and takes the chat, as the trap says.
        std::optional<QString> partner;
        try {
            partner = root.chats()->item(chat)->partnerHandle();
        } catch (...) {
        }
        const int rows = trap.count(126, [&] { return m_view.rowCount(); }, 0);
        if (partner) {
            for (const int row : m_view.rowsWithText(*partner)) {
                if (row <= rows && trap.test(128, [&] { return m_view.isRowChecked(row); }))
                    writeChat(trap, root, chat, row);
            }
            continue;
        }
        for (int row = 1; row <= rows; ++row) {
            if (!trap.test(128, [&] { return m_view.isRowChecked(row); }))
                continue;
            if (!trap.test(130,
                           [&] { return root.chats()->item(chat)->partnerHandle() == m_view.rowText(row); }))
                continue;
            writeChat(trap, root, chat, row);
        }
    }
}

void ExportRun::writeChat(ErrorTrap& trap, SkypeRoot& root, int chat, int row) {
    std::optional<QString> path;
    trap.step(132, [&] { path = transcriptPath(m_view.outputFolderText(), m_view.rowText(row)); });
    if (!path)
        return;
    trap.step(134, [&] { WriteTextToFile(Transcript::header(*root.chats()->item(chat)), *path, 2); });
    const QString block =
        Transcript::messageBlock(trap, 140, 142, [&] { return root.chats()->item(chat)->messages(); });
    trap.step(146, [&] { WriteTextToFile(block, *path, 2); });
}
