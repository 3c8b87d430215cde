#include "ExportHistory.h"

#include "JsonText.h"

#include "messages/ChatText.h"
#include "messages/MessageBody.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The text of a value that should be a string; null, missing and other types read as empty.
std::string_view textOf(simdjson::ondemand::value value) {
    std::string_view text;
    if (value.type() == simdjson::ondemand::json_type::string)
        text = value.get_string();
    return text;
}

qint64 numberOf(std::string_view digits) {
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

// properties.deletetime marks a deleted message, properties.isserversidegenerated a server copy of an edit.
bool isDeletedOrServerCopy(simdjson::ondemand::value properties) {
    using simdjson::ondemand::json_type;
    if (properties.type() != json_type::object)
        return false;
    bool hidden = false;
    for (simdjson::ondemand::field property : properties.get_object()) {
        const std::string_view name = property.unescaped_key();
        simdjson::ondemand::value value = property.value();
        const json_type type = value.type();
        if (name == "deletetime") {
            hidden = hidden || (type == json_type::string ? !textOf(value).empty() : type != json_type::null);
        } else if (name == "isserversidegenerated") {
            if (type == json_type::boolean)
                hidden = hidden || bool(value.get_bool());
            else if (type == json_type::string) {
                const std::string_view flag = textOf(value);
                hidden = hidden || flag == "true" || flag == "True";
            }
        }
    }
    return hidden;
}

// A conversation's buffer is kept for the next one up to this size; a larger one goes when parsed.
constexpr size_t kKeptBuffer = size_t(4) << 20;

} // namespace

ExportHistory::ExportHistory(const QString& path, Container container)
    : ExportHistory(std::make_shared<ExportText>(path, container)) {}

ExportHistory::ExportHistory(const QString& name, const QByteArray& json)
    : ExportHistory(std::make_shared<ExportText>(name, json)) {}

ExportHistory::ExportHistory(std::shared_ptr<ExportText> text)
    : ExportHistory(text, std::make_shared<const ConversationIndex>(*text)) {}

ExportHistory::ExportHistory(std::shared_ptr<ExportText> text, std::shared_ptr<const ConversationIndex> index)
    : m_text(std::move(text))
    , m_index(std::move(index))
    , m_stamps(m_index->chats().size()) {}

ExportHistory::~ExportHistory() = default;

std::unique_ptr<History> ExportHistory::reader() const {
    return std::unique_ptr<History>(new ExportHistory(m_text, m_index));
}

size_t ExportHistory::load(const ConversationIndex::Span& span) {
    size_t size = span.size;
    if (!m_buffer.data() || m_buffer.size() < size) {
        m_buffer = simdjson::padded_string(size);
        if (!m_buffer.data())
            m_text->fail(
                QStringLiteral("a conversation of %1 MiB is larger than the memory this computer can give")
                    .arg(size >> 20));
    }
    m_text->copy(span.at, size, m_buffer.data());
    std::memset(m_buffer.data() + size, 0, simdjson::SIMDJSON_PADDING);
    JsonText::repairLoneSurrogates(m_buffer.data(), size);
    if (!simdjson::validate_utf8(m_buffer.data(), size)) {
        // Invalid bytes become U+FFFD instead of making the conversation unreadable.
        const QByteArray repaired = QString::fromUtf8(m_buffer.data(), static_cast<qsizetype>(size)).toUtf8();
        m_buffer = simdjson::padded_string(repaired.constData(), static_cast<size_t>(repaired.size()));
        size = m_buffer.size();
    }
    return size;
}

ChatTime ExportHistory::parseTime(std::string_view text) {
    // 2020-07-06T17:20:30.609Z
    const auto number = [&](size_t at, size_t length, int& out) {
        if (at + length > text.size())
            return false;
        out = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!number(0, 4, year) || text.size() < 20 || text[4] != '-' || !number(5, 2, month) || text[7] != '-' ||
        !number(8, 2, day) || text[10] != 'T' || !number(11, 2, hour) || text[13] != ':' ||
        !number(14, 2, minute) || text[16] != ':' || !number(17, 2, second))
        return std::nullopt;
    size_t at = 19;
    if (text[at] == '.') {
        const size_t fraction = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        if (at == fraction)
            return std::nullopt;
    }
    if (at + 1 != text.size() || text[at] != 'Z')
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
}

QStringList ExportHistory::contacts() {
    QStringList handles;
    for (const HistoryChat& chat : m_index->chats()) {
        if (!chat.partner.isEmpty())
            handles.append(chat.partner);
    }
    sortHandles(handles);
    return handles;
}

const std::vector<HistoryChat>& ExportHistory::chats() {
    return m_index->chats();
}

History::ChatContent ExportHistory::messages(size_t chat) {
    using namespace simdjson;
    const ConversationIndex::Span& messageList = m_index->messagesOf(chat);
    if (messageList.noList)
        m_text->fail(
            QStringLiteral("the messages of '%1' are not a list").arg(m_index->chats().at(chat).name));
    struct Row {
        qint64 time;
        qint64 id;
        size_t order;
        ChatText::Span sender;
        ChatText::Span body;
    };
    std::vector<Row> rows;
    ChatTime earliest;
    // In UTF-8, as the export holds them, all the way to a transcript in UTF-8.
    ChatText text;
    ChatText::LastName names;
    if (messageList.size > 0) {
        const size_t size = load(messageList);
        try {
            ondemand::document document =
                m_parser.iterate(m_buffer.data(), size, m_buffer.size() + SIMDJSON_PADDING);
            for (ondemand::value entry : document.get_array()) {
                if (entry.type() != ondemand::json_type::object)
                    continue;
                std::string_view id, name, arrival, type, content, from;
                bool hidden = false;
                char* const buffer = m_buffer.data();
                for (ondemand::field field : entry.get_object()) {
                    const std::string_view key = field.unescaped_key();
                    ondemand::value value = field.value();
                    if (key == "id") {
                        id = value.type() == ondemand::json_type::number
                                 ? value.raw_json_token()
                                 : JsonText::decodedInPlace(value, buffer);
                    } else if (key == "displayName") {
                        name = JsonText::decodedInPlace(value, buffer);
                    } else if (key == "originalarrivaltime") {
                        arrival = JsonText::decodedInPlace(value, buffer);
                    } else if (key == "messagetype") {
                        type = JsonText::decodedInPlace(value, buffer);
                    } else if (key == "content") {
                        content = JsonText::decodedInPlace(value, buffer);
                    } else if (key == "from") {
                        from = JsonText::decodedInPlace(value, buffer);
                    } else if (key == "properties") {
                        hidden = isDeletedOrServerCopy(value);
                    }
                }
                const ChatTime time = parseTime(arrival);
                if (time && (!earliest || *time < *earliest))
                    earliest = time;
                if (hidden)
                    continue;
                const MessageKind kind = MessageBody::kindOfExportType(type);
                if (kind == MessageKind::Event)
                    continue;
                const std::optional<ChatText::Span> body = text.addBody(kind, QByteArrayView(content));
                if (!body)
                    continue;
                const ChatText::Span sender = text.addName(
                    QByteArrayView(name.empty() ? ConversationIndex::withoutPrefix(from) : name), names);
                rows.push_back({time.value_or(0), numberOf(id), rows.size(), sender, *body});
            }
        } catch (const simdjson_error& error) {
            m_text->fail(QString::fromUtf8(error.what()));
        }
        // The parser's own buffers grow with the largest list it parsed: both go after a large one.
        if (m_buffer.size() > kKeptBuffer) {
            m_buffer = simdjson::padded_string();
            m_parser = simdjson::ondemand::parser();
        }
    }
    m_stamps.at(chat) = {earliest, true};

    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.time != b.time ? a.time > b.time : a.id > b.id;
    });
    ChatContent content;
    content.messages.reserve(rows.size());
    for (const Row& row : rows)
        content.messages.push_back(text.message(row.sender, row.body));
    content.timeStampKnown = true;
    content.timeStamp = earliest;
    return content;
}

ChatTime ExportHistory::timeStamp(size_t chat) {
    if (!m_stamps.at(chat).known)
        messages(chat);
    return m_stamps.at(chat).earliest;
}
