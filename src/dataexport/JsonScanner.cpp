#include "JsonScanner.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#if defined(__SSE2__) && defined(__GNUC__)
#define PARLORIX_JSON_BLOCKS
#include <emmintrin.h>

namespace {

// 64 bytes of the text, to be asked which of them are a given byte.
class Block {
public:
    explicit Block(const char* at) {
        for (int part = 0; part < 4; ++part)
            m_parts[part] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    }
    // Bit k set where byte k is `c`.
    quint64 bytes(char c) const {
        const __m128i wanted = _mm_set1_epi8(c);
        quint64 bits = 0;
        for (int part = 0; part < 4; ++part) {
            const auto mask = static_cast<quint32>(_mm_movemask_epi8(_mm_cmpeq_epi8(m_parts[part], wanted)));
            bits |= static_cast<quint64>(mask) << (16 * part);
        }
        return bits;
    }

private:
    __m128i m_parts[4];
};

} // namespace
#endif

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
    Walk walk;
    size_t i = at;
#ifdef PARLORIX_JSON_BLOCKS
    // Inside a list or an object a byte matters only as a bracket outside the strings: these are
    // found 64 bytes at a time, the strings told by their quotes. Where a block holds a backslash,
    // its quotes and backslashes alone are walked in order, to tell the quotes that are escaped.
    for (; m_json.size() - i >= 64; i += 64) {
        const Block block(m_json.data() + i);
        quint64 quotes = block.bytes('"');
        const quint64 backslashes = block.bytes('\\');
        if (backslashes != 0 || walk.escaped) {
            quint64 real = 0;
            bool inString = walk.inString;
            int escapedAt = walk.escaped ? 0 : -1;
            for (quint64 special = quotes | backslashes; special != 0; special &= special - 1) {
                const int bit = __builtin_ctzll(special);
                if (inString && bit == escapedAt)
                    continue;
                if ((backslashes >> bit) & 1) {
                    if (inString)
                        escapedAt = bit + 1;
                } else {
                    real |= quint64(1) << bit;
                    inString = !inString;
                }
            }
            quotes = real;
            walk.escaped = escapedAt == 64;
        }
        // Set for the bytes from an opening quote up to its closing one, this one not included.
        quint64 inside = quotes;
        for (int shift = 1; shift < 64; shift *= 2)
            inside ^= inside << shift;
        if (walk.inString)
            inside = ~inside;
        walk.inString = (inside >> 63) != 0;
        const quint64 opens = (block.bytes('{') | block.bytes('[')) & ~inside;
        quint64 brackets = opens | ((block.bytes('}') | block.bytes(']')) & ~inside);
        for (; brackets != 0; brackets &= brackets - 1) {
            const int bit = __builtin_ctzll(brackets);
            if ((opens >> bit) & 1)
                ++walk.depth;
            else if (--walk.depth == 0)
                return i + static_cast<size_t>(bit) + 1;
        }
    }
#endif
    if (const std::optional<size_t> end = walkBytes(i, m_json.size(), walk))
        return *end;
    malformed(at);
}

std::optional<size_t> JsonScanner::walkBytes(size_t from, size_t to, Walk& walk) const {
    for (size_t i = from; i < to; ++i) {
        const char c = m_json[i];
        if (walk.inString) {
            if (walk.escaped)
                walk.escaped = false;
            else if (c == '\\')
                walk.escaped = true;
            else if (c == '"')
                walk.inString = false;
            continue;
        }
        switch (c) {
        case '"':
            walk.inString = true;
            break;
        case '{':
        case '[':
            ++walk.depth;
            break;
        case '}':
        case ']':
            if (--walk.depth == 0)
                return i + 1;
            break;
        default:
            break;
        }
    }
    return std::nullopt;
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
