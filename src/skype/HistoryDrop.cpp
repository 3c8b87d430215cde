#include "HistoryDrop.h"

#include "HistorySource.h"
#include "SkypeConnector.h"

#include "base/Failure.h"
#include "base/MessageBoxes.h"
#include "base/Services.h"
#include "base/Settings.h"

#include <QDir>

namespace HistoryDrop {

bool take(const QStringList& paths, Services& services) {
    try {
        for (const QString& path : paths) {
            // Stored together, the paths are told apart by the separator: one holding it would be read
            // as two.
            if (paths.size() > 1 && path.contains(QDir::listSeparator()))
                throw Failure(QStringLiteral("'%1' cannot be read together with other histories: its path "
                                             "holds '%2', which separates them. Drop it alone, or move it.")
                                  .arg(path, QDir::listSeparator()));
        }
        // The box names what is read: a history dropped twice (or a link to it, or a copy) once.
        QStringList found;
        for (const HistorySource::Located& located : HistorySource::identifyAll(paths))
            found.append(located.path);
        if (found.isEmpty())
            return false;
        SaveSetting(services.settings, Settings::application(), Settings::section(),
                    Settings::skypeHistoryKey(), HistorySource::joinPaths(paths));
        services.skype.chooseHistories(paths);
        if (found.size() == 1)
            services.boxes.inform(
                QStringLiteral("The Skype history in '%1' will be read from now on.").arg(found.first()));
        else
            services.boxes.inform(
                QStringLiteral("These %1 Skype histories will be read from now on, as one history:\r\n")
                    .arg(found.size()) +
                found.join(QStringLiteral("\r\n")));
        return true;
    } catch (const Failure& failure) {
        services.boxes.show(failure.description(), QString(), MessageBoxes::Buttons::Ok,
                            MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
        return false;
    }
}

} // namespace HistoryDrop
