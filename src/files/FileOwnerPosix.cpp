#include "FileOwner.h"

#include <pwd.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#endif

#include <vector>

namespace FileOwner {

uint currentUser() {
#ifdef Q_OS_LINUX
    // Asked to take an id that is none, it changes nothing and answers with the one in force.
    return static_cast<uint>(::setfsuid(static_cast<uid_t>(-1)));
#else
    return static_cast<uint>(::geteuid());
#endif
}

QString nameOf(uint uid) {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    struct passwd entry{};
    struct passwd* found = nullptr;
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("user %1").arg(uid);
}

} // namespace FileOwner
