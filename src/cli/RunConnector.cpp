#include "RunConnector.h"

RunConnector::RunConnector(SkypeConnector& link)
    : m_link(link) {}

RunConnector::~RunConnector() {
    m_link.setReadProgress(nullptr);
}

std::shared_ptr<SkypeRoot> RunConnector::createRoot() {
    if (!m_root)
        m_root = m_link.createRoot();
    return m_root;
}

void RunConnector::chooseHistories(const QStringList& paths) {
    m_link.chooseHistories(paths);
    m_root.reset();
}

void RunConnector::setReadProgress(ReadProgress* progress) {
    // Before the root is made, as the link tells only the roots it makes from then on.
    m_link.setReadProgress(progress);
    m_root.reset();
}
