#include "HistoryDrop.h"

#include "HistorySource.h"
#include "SkypeConnector.h"

#include "base/Failure.h"
#include "base/MessageBoxes.h"
#include "base/Services.h"
#include "base/Settings.h"

namespace HistoryDrop {

bool take(const QString& path, Services& services) {
    try {
        const HistorySource::Located history = HistorySource::identify(path);
        SaveSetting(services.settings, Settings::application(), Settings::section(),
                    Settings::skypeHistoryKey(), path);
        services.skype.chooseHistory(path);
        services.boxes.inform(
            QStringLiteral("The Skype history in '%1' will be read from now on.").arg(history.path));
        return true;
    } catch (const Failure& failure) {
        services.boxes.show(failure.description(), QString(), MessageBoxes::Buttons::Ok,
                            MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
        return false;
    }
}

} // namespace HistoryDrop
