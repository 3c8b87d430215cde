#pragma once

#include "skype/SkypeConnector.h"

// The Skype link of one command-line run. Every handler of the run reads one root, so the history
// is opened once however many handlers run.
class RunConnector final : public SkypeConnector {
public:
    explicit RunConnector(SkypeConnector& link);
    // The link outlives the run: it is told nothing more.
    ~RunConnector() override;
    std::shared_ptr<SkypeRoot> createRoot() override;
    void chooseHistories(const QStringList& paths) override;
    void setReadProgress(ReadProgress* progress) override;

private:
    SkypeConnector& m_link;
    std::shared_ptr<SkypeRoot> m_root;
};
