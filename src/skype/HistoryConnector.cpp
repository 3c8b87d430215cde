#include "HistoryConnector.h"

#include "HistoryRoot.h"
#include "HistorySource.h"

HistoryConnector::HistoryConnector(const SettingsStore& settings)
    : m_settings(settings) {}

std::shared_ptr<SkypeRoot> HistoryConnector::createRoot() {
    return std::make_shared<HistoryRoot>([this] { return HistorySource::locate(m_settings); });
}
