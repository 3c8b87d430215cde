#include "GroupChatExport.h"

#include "ChatFailures.h"
#include "ExportStart.h"
#include "FileRoutines.h"
#include "GroupChatNames.h"
#include "SharedFiles.h"
#include "Transcript.h"
#include "TranscriptFiles.h"
#include "files/FileError.h"
#include "files/FileSystem.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/MainView.h"
#include "base/MessageBoxes.h"
#include "base/Services.h"
#include "skype/SkypeLink.h"

#include <QDir>

#include <vector>

GroupChatExport::GroupChatExport(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

QString GroupChatExport::subfolderName() {
    return QStringLiteral("Group chats");
}

void GroupChatExport::run() {
    TranscriptFiles files(m_services.files);
    run(files);
}

void GroupChatExport::run(TranscriptFiles& files) {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("GroupChatExport")));
    QString folderText;
    const std::shared_ptr<SkypeRoot> root = startExport(trap, m_view, m_services, files, &folderText);
    if (!root)
        return;
    QString folder;
    // The subfolder's lock up front: a run of the window writing there says so once, not per group.
    QString busy;
    if (!trap.step(106, [&] { folder = subfolder(files, folderText, &busy); }))
        return;
    if (!busy.isEmpty()) {
        m_services.boxes.inform(busy);
        return;
    }
    ChatFailures failures(trap);
    writeGroups(trap, failures, *root, files, folder);
    files.finish();
    failures.report(m_services.boxes);
    if (files.stopped())
        m_services.boxes.show(files.stopMessage(), QString(), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
    else if (!files.kept().isEmpty())
        m_services.boxes.show(files.keptMessage(), QString(), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
}

QString GroupChatExport::subfolder(TranscriptFiles& files, const QString& folderText, QString* busy) const {
    const QString path = folderText + subfolderName();
    int error = 0;
    *busy = files.lockSubfolder(folderText, subfolderName(), &error);
    // Writing into a link would write wherever it points.
    if (error == FileSystem::kIsLink)
        throw Failure(
            QStringLiteral("'%1' is a link; the group chats are written only into a folder of its own")
                .arg(path));
    if (error == FileSystem::kNotAFolder)
        throw Failure(QStringLiteral("'%1' is not a folder").arg(path));
    if (error != 0)
        throw Failure(QStringLiteral("Cannot create the folder '%1': %2").arg(path, fileErrorText(error)));
    return path + QDir::separator();
}

std::vector<int> GroupChatExport::groupsOf(SkypeRoot& root) {
    std::vector<int> groups;
    const int chats = root.chats()->count();
    for (int position = 1; position <= chats; ++position) {
        try {
            if (root.chats()->item(position)->partnerHandle().isEmpty())
                groups.push_back(position);
        } catch (...) {
        }
    }
    return groups;
}

// Chats in the history's order. A group's file name depends on the group alone: a chat that cannot
// be read, or named, keeps its old file and leaves the others' names as they are.
void GroupChatExport::writeGroups(ErrorTrap& trap, ChatFailures& failures, SkypeRoot& root,
                                  TranscriptFiles& files, const QString& folder) {
    // The groups first: telling them is cheap, and the link can then read each ahead of its turn.
    std::vector<int> groups;
    GroupChatNames names;
    const int chats = trap.count(108, [&] { return root.chats()->count(); }, 0);
    for (int position = 1; position <= chats; ++position) {
        // A chat that cannot be told to be a group is not written into a group's file.
        std::shared_ptr<Chat> chat;
        trap.step(110, [&] {
            std::shared_ptr<Chat> item = root.chats()->item(position);
            if (item->partnerHandle().isEmpty())
                chat = std::move(item);
        });
        if (!chat)
            continue;
        groups.push_back(position);
        try {
            names.expect(chat->topic(), chat->name());
        } catch (...) {
            // told when the group's turn comes
        }
    }
    try {
        root.chats()->willRead(groups);
    } catch (...) {
        // only a hint
    }
    // A file of the name an earlier version gave the group, that the run may take as the group's.
    const auto earlierFile = [&](const QString& name) {
        const QFileInfo info(folder + name + QStringLiteral(".txt"));
        return info.isFile() && !info.isSymLink();
    };
    for (const int position : groups) {
        const ChatFailures::Scope scope(failures, position);
        trap.step(112, [&] { m_view.processEvents(); });
        std::shared_ptr<Chat> chat;
        if (!trap.step(114, [&] { chat = root.chats()->item(position); }))
            continue;
        const int failedBeforeChat = trap.failures();
        // Messages an earlier pass could not count were reported there: not counted again only to
        // fail once more.
        const bool reported = m_uncounted.count(position) > 0;
        const bool hasMessages = reported || trap.test(116, [&] { return chat->messages()->count() > 0; });
        // The history can no longer be read: this group and the later ones keep their files.
        if (files.mustStop(trap))
            break;
        if (!hasMessages)
            continue;
        // Messages that could not be counted are not read: the group keeps its old file.
        const bool readable = !reported && trap.failures() == failedBeforeChat;
        QString topic;
        QString id;
        // Without its topic or its id the group's file is not known: whichever it is stays as it was.
        // An empty id tells no group from another: named by its topic alone, its chat could replace
        // the file of another group of that topic from an earlier run.
        if (!trap.step(118, [&] { topic = chat->topic(); }) || !trap.step(120, [&] {
                id = chat->name();
                if (id.isEmpty())
                    throw Failure(QStringLiteral("The group chat '%1' has no id: it is not written, as its "
                                                 "file could be another group's")
                                      .arg(topic));
            }))
            continue;
        const QString path = folder + names.take(topic, id, earlierFile) + QStringLiteral(".txt");
        if (!trap.step(121, [&] { files.restart(path); })) {
            // The folder was removed or replaced: every later group would fail alike.
            if (files.stopped())
                break;
            continue;
        }
        if (readable) {
            trap.step(122, [&] { files.append(path, Transcript::header(*chat)); });
            const Transcript::Block block =
                Transcript::messageBlock(trap, 124, 126, [&] { return chat->messages(); });
            const bool written = trap.step(128, [&] { block.appendTo(files, path); });
            if (written && m_shared)
                trap.step(129, [&] { m_shared->want(path, position, chat->messages()->sharedFiles()); });
        }
        if (!readable || trap.failures() != failedBeforeChat)
            files.spoil(path);
        // At once, inside the group's scope: a failure to put it in place counts among the group's,
        // whose boxes are limited with the other chats'.
        trap.step(130, [&] { files.commit(path); });
        // The folder is gone, the disk full, writing refused or the history unreadable: every later
        // group would fail alike.
        if (files.mustStop(trap))
            break;
    }
}
