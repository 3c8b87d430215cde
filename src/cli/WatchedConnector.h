#pragma once

#include "skype/SkypeConnector.h"

class ProgressLine;

// The Skype link of one command-line run. Every handler of the run reads one root, so the history
// is opened once however many handlers run; with a progress line, the chats asked for and the
// messages read are counted on the way.
class WatchedConnector final : public SkypeConnector {
public:
    // `progress` may be null: then nothing is counted.
    WatchedConnector(SkypeConnector& link, ProgressLine* progress);
    std::shared_ptr<SkypeRoot> createRoot() override;
    void chooseHistory(const QString& path) override;

private:
    SkypeConnector& m_link;
    ProgressLine* m_progress;
    std::shared_ptr<SkypeRoot> m_root;
};
