#include "JsonScanner.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

JsonScanner::JsonScanner(std::string_view json)
    : m_json(json) {}

void JsonScanner::malformed(size_t at) const {
    throw std::runtime_error("malformed JSON near byte " + std::to_string(at));
}

size_t JsonScanner::skipBlanks(size_t at) const {
    while (at < m_json.size() &&
           (m_json[at] == ' ' || m_json[at] == '\n' || m_json[at] == '\r' || m_json[at] == '\t'))
        ++at;
    return at;
}

// From an opening quote to just behind the closing one.
size_t JsonScanner::skipString(size_t at) const {
    const char* data = m_json.data();
    size_t from = at + 1;
    for (;;) {
        const void* quote =
            from < m_json.size() ? std::memchr(data + from, '"', m_json.size() - from) : nullptr;
        if (!quote)
            malformed(at);
        const size_t end = static_cast<size_t>(static_cast<const char*>(quote) - data);
        size_t backslashes = 0;
        while (end - backslashes > at + 1 && data[end - 1 - backslashes] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return end + 1;
        from = end + 1;
    }
}

// From the first character of any value to just behind it.
size_t JsonScanner::skipValue(size_t at) const {
    if (at >= m_json.size())
        malformed(at);
    if (m_json[at] == '"')
        return skipString(at);
    if (m_json[at] != '{' && m_json[at] != '[') {
        // A number, true, false or null: up to the next delimiter. Anything else there is no value:
        // walked over, it would take the objects around it for closed.
        const size_t start = at;
        while (at < m_json.size() && !std::strchr(",]} \n\r\t", m_json[at])) {
            const char c = m_json[at];
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                  c == '+' || c == '.'))
                malformed(at);
            ++at;
        }
        if (at == start)
            malformed(at);
        return at;
    }
    int depth = 0;
    for (size_t i = at; i < m_json.size(); ++i) {
        switch (m_json[i]) {
        case '"':
            i = skipString(i) - 1;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            if (--depth == 0)
                return i + 1;
            break;
        default:
            break;
        }
    }
    malformed(at);
}

size_t JsonScanner::walkObject(size_t at, const Member& member) const {
    if (at >= m_json.size() || m_json[at] != '{')
        malformed(at);
    at = skipBlanks(at + 1);
    while (at < m_json.size() && m_json[at] != '}') {
        if (m_json[at] != '"')
            malformed(at);
        const size_t nameEnd = skipString(at);
        const std::string_view name = m_json.substr(at + 1, nameEnd - at - 2);
        at = skipBlanks(nameEnd);
        if (at >= m_json.size() || m_json[at] != ':')
            malformed(at);
        at = skipBlanks(member(name, skipBlanks(at + 1)));
        if (at < m_json.size() && m_json[at] == ',')
            at = skipBlanks(at + 1);
        else if (at >= m_json.size() || m_json[at] != '}')
            malformed(at);
    }
    if (at >= m_json.size())
        malformed(at);
    return at + 1;
}

size_t JsonScanner::walkArray(size_t at, const std::function<size_t(size_t elementAt)>& element) const {
    if (at >= m_json.size() || m_json[at] != '[')
        malformed(at);
    at = skipBlanks(at + 1);
    while (at < m_json.size() && m_json[at] != ']') {
        at = skipBlanks(element(at));
        if (at < m_json.size() && m_json[at] == ',')
            at = skipBlanks(at + 1);
        else if (at >= m_json.size() || m_json[at] != ']')
            malformed(at);
    }
    if (at >= m_json.size())
        malformed(at);
    return at + 1;
}

std::optional<std::vector<std::vector<std::string_view>>>
JsonScanner::membersOfEach(std::string_view arrayKey, const std::vector<std::string_view>& wanted) const {
    std::vector<std::vector<std::string_view>> result;
    if (!forEach(arrayKey, wanted,
                 [&](const std::vector<std::string_view>& members, size_t) { result.push_back(members); }))
        return std::nullopt;
    return result;
}

bool JsonScanner::forEach(std::string_view arrayKey, const std::vector<std::string_view>& wanted,
                          const Each& each) const {
    bool found = false;
    std::vector<std::string_view> members(wanted.size());
    // Every byte is looked at once: the members of each element are found while skipping over it.
    const auto element = [&](size_t at) {
        if (m_json[at] != '{')
            return skipValue(at);
        std::fill(members.begin(), members.end(), std::string_view());
        const size_t end = walkObject(at, [&](std::string_view name, size_t valueAt) {
            const size_t valueEnd = skipValue(valueAt);
            for (size_t i = 0; i < wanted.size(); ++i) {
                if (name == wanted[i] && members[i].empty())
                    members[i] = m_json.substr(valueAt, valueEnd - valueAt);
            }
            return valueEnd;
        });
        each(members, end);
        return end;
    };
    // A byte-order mark may stand before the document.
    const size_t start = skipBlanks(m_json.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0);
    const size_t end = skipBlanks(walkObject(start, [&](std::string_view name, size_t valueAt) {
        if (name != arrayKey || found)
            return skipValue(valueAt);
        found = true;
        return walkArray(valueAt, element);
    }));
    // Anything behind the root object means it closed early: what stood in it was misread.
    if (end != m_json.size())
        malformed(end);
    return found;
}
