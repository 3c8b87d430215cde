#include "OutputFolder.h"

#include "FolderBrowser.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/MainView.h"
#include "base/Services.h"
#include "base/Settings.h"

#include <QDir>
#include <QtDebug>

OutputFolder::OutputFolder(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

QString OutputFolder::withTrailingSeparator(const QString& folder) {
    if (folder.endsWith(QDir::separator()))
        return folder;
    return folder + QDir::separator();
}

void OutputFolder::browse() {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton5_Click")));
    trap.step(100, [&] {
        m_lastFolder = GetSetting(m_services.settings, Settings::application(), Settings::section(),
                                  Settings::lastFolderKey(), QString());
    });
    QString chosen;
    trap.step(100, [&] {
        chosen = m_services.browser.browseForFolder(QStringLiteral("Please select folder:"), m_lastFolder);
    });
    if (trap.test(102, [&] { return chosen.isEmpty(); }))
        return;
    trap.step(104, [&] {
        m_lastFolder = chosen;
        SaveSetting(m_services.settings, Settings::application(), Settings::section(),
                    Settings::lastFolderKey(), m_lastFolder);
    });
    trap.step(106, [&] { chosen = withTrailingSeparator(chosen); });
    trap.step(108, [&] { m_view.setOutputFolderText(chosen); });
}

void OutputFolder::storeText() {
    SaveSettingTellingOnce(m_services.settings, m_services.boxes, Settings::outputFolderKey(),
                           m_view.outputFolderText());
}
