#include "ExportStart.h"

#include "FileRoutines.h"
#include "TranscriptFiles.h"

#include "base/ErrorTrap.h"
#include "base/MainView.h"
#include "base/MessageBoxes.h"
#include "base/Services.h"
#include "skype/AccessGuidance.h"
#include "skype/SkypeConnector.h"
#include "skype/SkypeLink.h"

std::shared_ptr<SkypeRoot> startExport(ErrorTrap& trap, MainView& view, Services& services,
                                       TranscriptFiles& files, QString* folderText) {
    std::shared_ptr<SkypeRoot> root;
    // Without a link, or without knowing whether Skype runs, there would be nothing to write in
    // place of the old transcripts: the export ends here instead.
    if (!trap.step(100, [&] { root = services.skype.createRoot(); }))
        return nullptr;
    if (!trap.test(102, [&] {
            *folderText = view.outputFolderText();
            return FolderExists(*folderText) || files.holds(*folderText);
        })) {
        trap.step(158, [&] {
            services.boxes.inform(QStringLiteral("Folder does not exist. Please select another folder."));
        });
        return nullptr;
    }
    bool running = false;
    if (!trap.step(104, [&] { running = root->client()->isRunning(); }))
        return nullptr;
    if (!running) {
        trap.step(156, [&] { AccessGuidance(view, services).showHelp(); });
        return nullptr;
    }
    const QString refusal = files.lockFolder(*folderText);
    if (!refusal.isEmpty()) {
        services.boxes.inform(refusal);
        return nullptr;
    }
    for (const QString& historyFile : root->historyFiles())
        files.protect(historyFile);
    return root;
}
