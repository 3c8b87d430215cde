#include "LegacyExport.h"

#include "ChatFailures.h"
#include "FileRoutines.h"
#include "Transcript.h"
#include "TranscriptFiles.h"

#include "base/AppInfo.h"
#include "base/DateText.h"
#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/MainView.h"
#include "base/MessageBoxes.h"
#include "base/PointerFeedback.h"
#include "base/Services.h"
#include "skype/AccessGuidance.h"
#include "skype/SkypeConnector.h"
#include "skype/SkypeLink.h"

#include <algorithm>
#include <optional>

namespace {

bool belongsTo(const Chat& chat, const QString& handle) {
    return chat.name().contains(handle, Qt::CaseInsensitive);
}

} // namespace

LegacyExport::LegacyExport(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

void LegacyExport::run() {
    TranscriptFiles files(m_services.files);
    run(files);
}

void LegacyExport::run(TranscriptFiles& files) {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton6_Click")));
    trap.step(100, [&] { m_view.setMousePointer(Pointer::Wait); });
    std::shared_ptr<SkypeRoot> root;
    trap.step(102, [&] { root = m_services.skype.createRoot(); });
    // A running test that fails leads into the branch for a client that is not running.
    if (trap.test(104, [&] {
            if (!root)
                throw Failure::objectNotSet();
            return !root->client()->isRunning();
        })) {
        trap.step(106, [&] { m_view.setMousePointer(Pointer::Default); });
        trap.step(108, [&] { AccessGuidance(m_view, m_services).showHelp(); });
        return;
    }
    const QString refusal = files.lockFolder(m_view.outputFolderText());
    if (!refusal.isEmpty()) {
        m_view.setMousePointer(Pointer::Default);
        m_services.boxes.inform(refusal);
        return;
    }
    for (const QString& historyFile : root->historyFiles())
        files.protect(historyFile);

    const int rows = trap.count(110, [&] { return m_view.rowCount(); }, 0);
    planReads(*root, rows);
    ChatFailures failures(trap);
    for (int row = 1; row <= rows; ++row) {
        if (!trap.test(112, [&] { return m_view.isRowChecked(row); }))
            continue;
        // A handle that cannot name a file in the folder gets no path, and nothing is written for it.
        std::optional<QString> path;
        trap.step(114, [&] { path = transcriptPath(m_view.outputFolderText(), m_view.rowText(row)); });
        if (!path)
            continue;
        const int failedBefore = trap.failures();
        if (trap.test(116, [&] { return m_view.isExportAllSelected(); }))
            exportAll(trap, failures, *root, files, *path, row);
        else
            exportRange(trap, failures, *root, files, *path, row);
        if (trap.failures() != failedBefore)
            files.spoil(*path);
        {
            // Past the first few boxes, a transcript that cannot be put in place is counted. Flushed
            // on other threads while the next rows are read.
            const ChatFailures::Scope scope(failures, -row);
            trap.step(152, [&] { files.commitLater(*path, failures, -row, 152); });
        }
        if (files.mustStop(trap))
            break;
    }
    files.finish();
    failures.report(m_services.boxes);
    if (files.stopped())
        m_services.boxes.show(files.stopMessage(), QString(), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
    else if (!files.kept().isEmpty())
        m_services.boxes.show(files.keptMessage(), QString(), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
    trap.step(154, [&] { m_view.setMousePointer(Pointer::Default); });
    trap.step(156, [&] { m_services.boxes.inform(QStringLiteral("Done.")); });
}

std::vector<int> LegacyExport::candidates(SkypeRoot& root, int row, int count) {
    try {
        const QString handle = m_view.rowText(row);
        if (!m_names) {
            const std::shared_ptr<ChatCollection> chats = root.chats();
            std::vector<std::optional<QString>> names;
            for (int chat = 1; chat <= chats->count(); ++chat) {
                try {
                    names.emplace_back(chats->item(chat)->name());
                } catch (...) {
                    names.emplace_back(); // tested again, and reported, where it is offered
                }
            }
            m_names.emplace(names);
        }
        std::vector<int> found = m_names->candidates(handle);
        found.erase(std::remove_if(found.begin(), found.end(), [&](int chat) { return chat > count; }),
                    found.end());
        return found;
    } catch (...) {
        // Without names to look in, every chat is offered and its own test reports what fails.
        std::vector<int> all;
        for (int chat = 1; chat <= count; ++chat)
            all.push_back(chat);
        return all;
    }
}

// The chats the rows will read, in the order they read them, told to the link so that it reads the
// next ones while one is written. Ticks are not asked for here (the command line counts the rows it
// is asked about): an unticked row's chats are planned and passed over. Only a hint: whatever
// fails here is tested again, and reported, where the walk meets it.
void LegacyExport::planReads(SkypeRoot& root, int rows) {
    try {
        const std::shared_ptr<ChatCollection> chats = root.chats();
        const int count = chats->count();
        const bool exportAll = m_view.isExportAllSelected();
        std::vector<int> plan;
        std::vector<bool> planned(static_cast<size_t>(qMax(count, 0)) + 1);
        for (int row = 1; row <= rows; ++row) {
            QString handle;
            try {
                handle = m_view.rowText(row);
                transcriptPath(m_view.outputFolderText(), handle);
            } catch (...) {
                continue; // nothing is written for this row
            }
            for (const int chat : candidates(root, row, count)) {
                // "Export All" reads only the chats whose name holds the handle; a date range reads
                // every candidate once to count its messages, and again, for a later row, where the
                // name holds that row's handle and the entry may be written.
                bool belongs = false;
                try {
                    belongs = belongsTo(*chats->item(chat), handle);
                } catch (...) {
                    // planned as a chat that does not belong: the walk tests it again and reports
                }
                if (!belongs && (exportAll || planned[static_cast<size_t>(chat)]))
                    continue;
                planned[static_cast<size_t>(chat)] = true;
                // A chat that ends one row and starts the next is read once.
                if (plan.empty() || plan.back() != chat)
                    plan.push_back(chat);
            }
        }
        chats->willRead(plan);
    } catch (...) {
        // without a plan, each chat is read when it is asked for
    }
}

// Every chat is offered to the row; a chat whose name does not hold the row's text is passed over
// without reading it, so only the chats that can belong to the row are tested, name first.
void LegacyExport::exportAll(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root, TranscriptFiles& files,
                             const QString& path, int row) {
    bool first = true;
    const int chats = trap.count(118, [&] { return root.chats()->count(); }, 0);
    for (const int chat : candidates(root, row, chats)) {
        const ChatFailures::Scope scope(failures, chat);
        if (files.stopped())
            break;
        const bool written = trap.test(120, [&] {
            const std::shared_ptr<Chat> current = root.chats()->item(chat);
            return belongsTo(*current, m_view.rowText(row)) && current->messages()->count() > 0;
        });
        // The history can no longer be read: the run ends here.
        if (files.mustStop(trap))
            break;
        if (!written)
            continue;
        trap.step(122, [&] {
            if (first)
                files.restart(path);
            files.append(path, Transcript::header(*root.chats()->item(chat)) + QLatin1String("\r\n"));
        });
        first = false;
        Transcript::Block block =
            Transcript::messageBlock(trap, 126, 128, [&] { return root.chats()->item(chat)->messages(); });
        block += QLatin1String("\r\n");
        trap.step(132, [&] { block.appendTo(files, path); });
    }
}

void LegacyExport::exportRange(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root,
                               TranscriptFiles& files, const QString& path, int row) {
    int writeNumber = 1;
    int chats = 0;
    // A walk that cannot start writes nothing.
    if (!trap.step(138, [&] { chats = root.chats()->count(); }))
        return;
    for (const int position : candidates(root, row, chats)) {
        const ChatFailures::Scope scope(failures, position);
        if (files.mustStop(trap))
            break;
        std::shared_ptr<Chat> chat;
        const auto current = [&]() -> Chat& {
            if (!chat)
                chat = root.chats()->item(position);
            return *chat;
        };
        const bool hasMessages = trap.test(140, [&] { return current().messages()->count() > 0; });
        // The history can no longer be read: the run ends here.
        if (files.mustStop(trap))
            break;
        if (hasMessages && trap.test(142, [&] { return belongsTo(current(), m_view.rowText(row)); }) &&
            trap.test(144, [&] {
                const QDateTime stamp = current().timeStamp();
                return stamp >= m_view.dateFrom() && stamp <= m_view.dateTo();
            })) {
            trap.step(146, [&] {
                const QString entry = QLatin1Char('[') + DateText::toText(current().timeStamp()) +
                                      QLatin1String("] \r\n") + current().messages()->item(1)->body() +
                                      QLatin1String("\r\n\r\n\r\n");
                if (writeNumber <= 1)
                    files.restart(path);
                files.append(path, entry);
            });
            trap.step(148, [&] { ++writeNumber; });
        }
    }
}
