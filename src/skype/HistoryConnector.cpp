#include "HistoryConnector.h"

#include "HistoryRoot.h"
#include "HistorySource.h"

HistoryConnector::HistoryConnector(const SettingsStore& settings)
    : m_settings(settings) {}

std::shared_ptr<SkypeRoot> HistoryConnector::createRoot() {
    return std::make_shared<HistoryRoot>(
        [this] {
            if (!m_chosen.isEmpty())
                return m_chosen;
            return HistorySource::locate(m_settings);
        },
        m_progress);
}

void HistoryConnector::chooseHistories(const QStringList& paths) {
    m_chosen = paths;
}
