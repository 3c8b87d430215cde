#pragma once

#include <QString>

#include <optional>

// A per-user store of text values addressed by application name, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Empty when the key, its section or its application is missing.
    virtual std::optional<QString> read(const QString& application, const QString& section,
                                        const QString& key) const = 0;
    // Stores the text at once; fails with a description when it cannot.
    virtual void write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;

    // Whether the user has been told this session that a value could not be stored.
    bool failureTold() const { return m_failureTold; }
    void setFailureTold() { m_failureTold = true; }

private:
    bool m_failureTold = false;
};
