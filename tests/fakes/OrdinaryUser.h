#pragma once

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#include <unistd.h>

// File operations of this thread as an ordinary user (nobody) while it lives: root writes into any
// folder, so a test of what a folder's permissions forbid would prove nothing when run as root.
class OrdinaryUser {
public:
    OrdinaryUser() {
        if (geteuid() == 0) {
            setfsgid(65534);
            setfsuid(65534);
            m_switched = true;
        }
    }
    ~OrdinaryUser() {
        if (m_switched) {
            setfsuid(0);
            setfsgid(0);
        }
    }
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

private:
    bool m_switched = false;
};
#endif
