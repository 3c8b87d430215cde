#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <ctime>

// Sets environment variables for one test and restores them after; TZ changes take effect at once.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const char* name, const QByteArray& value) { set(name, value); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->second.isNull())
                qunsetenv(it->first);
            else
                qputenv(it->first, it->second);
        }
        tzset();
    }
    ScopedEnv& set(const char* name, const QByteArray& value) {
        m_saved.append({name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray()});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
        tzset();
        return *this;
    }

private:
    QList<QPair<const char*, QByteArray>> m_saved;
};
