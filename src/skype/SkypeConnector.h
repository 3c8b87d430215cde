#pragma once

#include <QStringList>

#include <memory>

class ReadProgress;
class SkypeRoot;

// Creates the root object of the Skype link, one per handler press.
class SkypeConnector {
public:
    virtual ~SkypeConnector() = default;
    virtual std::shared_ptr<SkypeRoot> createRoot() = 0;
    // The user chose this history, or these histories to read as one (dropped them onto the window):
    // the latest explicit choice, read from now on in this session, whatever else names one.
    virtual void chooseHistories(const QStringList& paths) = 0;
    // Told what every root made from now on reads; null tells nothing. The progress must outlive
    // those roots.
    virtual void setReadProgress(ReadProgress* progress) = 0;
};
