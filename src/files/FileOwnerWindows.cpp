#include "FileOwner.h"

#include <windows.h>

#include <aclapi.h>

#include <vector>

namespace FileOwner {

namespace {

// The process token's user, or the owner it gives new files.
bool isUserOrTokenOwner(PSID owner) {
    HANDLE token = nullptr;
    if (!owner || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool mine = false;
    for (const TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        GetTokenInformation(token, what, nullptr, 0, &size);
        std::vector<char> buffer(size);
        if (size == 0 || !GetTokenInformation(token, what, buffer.data(), size, &size))
            continue;
        const PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        if (EqualSid(sid, owner)) {
            mine = true;
            break;
        }
    }
    CloseHandle(token);
    return mine;
}

QString accountName(PSID sid) {
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    if (!LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return QStringLiteral("another user");
    const QString account = QString::fromWCharArray(name, static_cast<qsizetype>(nameSize));
    return domainSize > 0 ? QString::fromWCharArray(domain, static_cast<qsizetype>(domainSize)) +
                                QLatin1Char('\\') + account
                          : account;
}

// A file's owner as its security says, while it is held.
class OwnerOf final {
public:
    explicit OwnerOf(HANDLE file)
        : m_known(GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &m_owner, nullptr,
                                  nullptr, nullptr, &m_descriptor) == ERROR_SUCCESS) {}
    explicit OwnerOf(const std::wstring& path)
        : m_known(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &m_owner,
                                        nullptr, nullptr, nullptr, &m_descriptor) == ERROR_SUCCESS) {}
    ~OwnerOf() { LocalFree(m_descriptor); }
    OwnerOf(const OwnerOf&) = delete;
    OwnerOf& operator=(const OwnerOf&) = delete;

    // None where it cannot be read.
    PSID sid() const { return m_known ? m_owner : nullptr; }

private:
    PSID m_owner = nullptr;
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    bool m_known;
};

} // namespace

bool isUsers(void* handle) {
    return isUserOrTokenOwner(OwnerOf(static_cast<HANDLE>(handle)).sid());
}

bool isUsers(const std::wstring& path) {
    return isUserOrTokenOwner(OwnerOf(path).sid());
}

QString otherOwner(const std::wstring& path) {
    const OwnerOf owner(path);
    return owner.sid() && !isUserOrTokenOwner(owner.sid()) ? accountName(owner.sid()) : QString();
}

} // namespace FileOwner
