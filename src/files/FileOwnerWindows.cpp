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

} // namespace

bool isUsers(void* handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(static_cast<HANDLE>(handle), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool mine = isUserOrTokenOwner(owner);
    LocalFree(descriptor);
    return mine;
}

bool isUsers(const std::wstring& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool mine = isUserOrTokenOwner(owner);
    LocalFree(descriptor);
    return mine;
}

QString otherOwner(const std::wstring& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return QString();
    const QString name = isUserOrTokenOwner(owner) ? QString() : accountName(owner);
    LocalFree(descriptor);
    return name;
}

} // namespace FileOwner
