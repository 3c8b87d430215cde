#include "HistoryDrop.h"

#include "HistorySource.h"
#include "SkypeConnector.h"

#include "base/Failure.h"
#include "base/MessageBoxes.h"
#include "base/Services.h"
#include "base/Settings.h"

#include <QDir>

#include <algorithm>
#include <vector>

namespace HistoryDrop {

bool take(const QStringList& paths, Services& services) {
    try {
        // Each history once, by the path it was dropped as: a history dropped twice (a profile folder
        // with its main.db, a file with a link to it, a copy) is one history, stored as one path is, so
        // that older versions still read it.
        QStringList kept;
        std::vector<HistorySource::Located> found;
        for (const QString& path : paths) {
            const HistorySource::Located located = HistorySource::identify(path);
            if (std::none_of(found.begin(), found.end(), [&](const HistorySource::Located& earlier) {
                    return HistorySource::holdSameHistory(earlier, located);
                })) {
                kept.append(path);
                found.push_back(located);
            }
        }
        if (found.empty())
            return false;
        for (const QString& path : kept) {
            // Stored together, the paths are told apart by the separator: one holding it would be read
            // as two.
            if (kept.size() > 1 && path.contains(QDir::listSeparator()))
                throw Failure(QStringLiteral("'%1' cannot be read together with other histories: its path "
                                             "holds '%2', which separates them. Drop it alone, or move it.")
                                  .arg(path, QDir::listSeparator()));
        }
        SaveSetting(services.settings, Settings::application(), Settings::section(),
                    Settings::skypeHistoryKey(), HistorySource::joinPaths(kept));
        services.skype.chooseHistories(kept);
        // The box names what is read.
        if (found.size() == 1) {
            services.boxes.inform(QStringLiteral("The Skype history in '%1' will be read from now on.")
                                      .arg(found.front().path));
        } else {
            QStringList names;
            for (const HistorySource::Located& located : found)
                names.append(located.path);
            services.boxes.inform(
                QStringLiteral("These %1 Skype histories will be read from now on, as one history:\r\n")
                    .arg(names.size()) +
                names.join(QStringLiteral("\r\n")));
        }
        return true;
    } catch (const Failure& failure) {
        services.boxes.show(failure.description(), QString(), MessageBoxes::Buttons::Ok,
                            MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
        return false;
    }
}

} // namespace HistoryDrop
