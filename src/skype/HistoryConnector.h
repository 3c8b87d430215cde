#pragma once

#include "SkypeConnector.h"

#include <QStringList>

class SettingsStore;

// Connects to the user's Skype history: the one (or the several, read as one) named by
// PARLORIX_SKYPE_DATA or dropped onto the window, else the newest classic profile.
class HistoryConnector final : public SkypeConnector {
public:
    explicit HistoryConnector(const SettingsStore& settings);
    std::shared_ptr<SkypeRoot> createRoot() override;
    void chooseHistories(const QStringList& paths) override;
    void setReadProgress(ReadProgress* progress) override { m_progress = progress; }

private:
    const SettingsStore& m_settings;
    QStringList m_chosen;
    ReadProgress* m_progress = nullptr;
};
