#include "JsonText.h"

#include <QString>

#include <cstring>

namespace {

// The UTF-16 unit of the escape "\uXXXX" at `at`, where one stands before `end`; else -1.
int escapedUnit(const char* at, const char* end) {
    if (end - at < 6 || at[0] != '\\' || at[1] != 'u')
        return -1;
    int unit = 0;
    for (int i = 2; i < 6; ++i) {
        const char c = at[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

} // namespace

namespace JsonText {

// The parser has found every value's place before the first is read and does not look at a value's
// bytes again.
std::string_view decodedInPlace(simdjson::ondemand::value value, char* buffer) {
    if (value.type() != simdjson::ondemand::json_type::string)
        return {};
    std::string_view raw = value.raw_json_token();
    // The token runs up to the next one, blanks included.
    while (!raw.empty() &&
           (raw.back() == ' ' || raw.back() == '\n' || raw.back() == '\r' || raw.back() == '\t'))
        raw.remove_suffix(1);
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        throw simdjson::simdjson_error(simdjson::STRING_ERROR);
    char* const begin = buffer + (raw.data() + 1 - buffer);
    const char* const end = raw.data() + raw.size() - 1;
    const char* in = begin;
    char* out = begin;
    while (in < end) {
        const auto* slash = static_cast<const char*>(std::memchr(in, '\\', static_cast<size_t>(end - in)));
        const char* const run = slash ? slash : end;
        if (out != in)
            std::memmove(out, in, static_cast<size_t>(run - in));
        out += run - in;
        in = run;
        if (in == end)
            break;
        if (end - in < 2)
            throw simdjson::simdjson_error(simdjson::STRING_ERROR);
        char32_t code = 0;
        switch (in[1]) {
        case '"':
        case '\\':
        case '/':
            code = static_cast<char32_t>(in[1]);
            in += 2;
            break;
        case 'b':
            code = '\b';
            in += 2;
            break;
        case 'f':
            code = '\f';
            in += 2;
            break;
        case 'n':
            code = '\n';
            in += 2;
            break;
        case 'r':
            code = '\r';
            in += 2;
            break;
        case 't':
            code = '\t';
            in += 2;
            break;
        case 'u': {
            const int unit = escapedUnit(in, end);
            if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF))
                throw simdjson::simdjson_error(simdjson::STRING_ERROR);
            in += 6;
            code = static_cast<char32_t>(unit);
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                const int low = escapedUnit(in, end);
                if (low < 0xDC00 || low > 0xDFFF)
                    throw simdjson::simdjson_error(simdjson::STRING_ERROR);
                in += 6;
                code = 0x10000 + ((code - 0xD800) << 10) + static_cast<char32_t>(low - 0xDC00);
            }
            break;
        }
        default:
            throw simdjson::simdjson_error(simdjson::STRING_ERROR);
        }
        // At most four bytes for an escape of at least two, six or twelve: never past `in`.
        if (code < 0x80) {
            *out++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *out++ = static_cast<char>(0xC0 | (code >> 6));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (code >> 12));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (code >> 18));
            *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return std::string_view(begin, static_cast<size_t>(out - begin));
}

void repairLoneSurrogates(char* json, size_t size) {
    const auto surrogateAt = [&](size_t at, int low, int high) {
        const int unit = at < size ? escapedUnit(json + at, json + size) : -1;
        return unit >= low && unit <= high;
    };
    for (char* found = static_cast<char*>(memchr(json, '\\', size)); found;) {
        size_t at = static_cast<size_t>(found - json);
        if (surrogateAt(at, 0xD800, 0xDBFF) && surrogateAt(at + 6, 0xDC00, 0xDFFF)) {
            at += 12;
        } else if (surrogateAt(at, 0xD800, 0xDFFF)) {
            memcpy(json + at, "\\uFFFD", 6);
            at += 6;
        } else {
            at += 2; // any other escape: the character after the backslash is not one
        }
        found = at < size ? static_cast<char*>(memchr(json + at, '\\', size - at)) : nullptr;
    }
}

std::string mended(std::string_view raw) {
    std::string text(raw);
    repairLoneSurrogates(text.data(), text.size());
    if (!simdjson::validate_utf8(text.data(), text.size()))
        text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    return text;
}

std::string decoded(std::string_view raw) {
    if (raw.size() < 2 || raw.front() != '"')
        return std::string();
    const std::string_view inside = raw.substr(1, raw.size() - 2);
    if (inside.find('\\') == std::string_view::npos)
        return std::string(inside);
    // Escapes are rare in ids: the parser decodes them.
    simdjson::ondemand::parser parser;
    simdjson::padded_string text(raw);
    std::string_view decoded;
    if (parser.iterate(text).get_string().get(decoded) != simdjson::SUCCESS)
        return std::string();
    return std::string(decoded);
}

} // namespace JsonText
