#pragma once

#include <memory>

class SkypeRoot;

// Creates the root object of the Skype link, one per handler press.
class SkypeConnector {
public:
    virtual ~SkypeConnector() = default;
    virtual std::shared_ptr<SkypeRoot> createRoot() = 0;
};
