#include "ProgressLine.h"

#include "Console.h"

#include <algorithm>

namespace {

constexpr qint64 kRedrawMs = 200;

QString duration(qint64 seconds) {
    const qint64 hours = seconds / 3600;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(hours ? (seconds / 60) % 60 : seconds / 60, hours ? 2 : 1, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QString::number(hours) + QLatin1Char(':') + minutesAndSeconds : minutesAndSeconds;
}

} // namespace

ProgressLine::ProgressLine(Console& console, bool enabled)
    : m_console(console)
    , m_enabled(enabled) {}

void ProgressLine::begin(const QString& unit, Counting counting) {
    m_unit = unit;
    m_counting = counting;
    m_total = 0;
    m_done = 0;
    m_messages = 0;
    m_plan.clear();
    m_started.start();
    m_lastDrawn.invalidate();
}

void ProgressLine::setTotal(int total) {
    // A plan counts only the chats it names.
    if (m_plan.empty())
        m_total = total;
}

void ProgressLine::chatsCounted(int total) {
    if (m_counting == Counting::Chats)
        setTotal(total);
}

void ProgressLine::chatsPlanned(const std::vector<int>& positions) {
    if (m_counting == Counting::Rows)
        return;
    m_plan = positions;
    m_total = static_cast<int>(m_plan.size());
}

void ProgressLine::chatAsked(int position) {
    // The group chats are told from the others by asking for every chat: that is no progress.
    if (m_counting == Counting::Rows || (m_counting == Counting::PlannedChats && m_plan.empty()))
        return;
    if (m_plan.empty()) {
        setDone(position - 1);
        return;
    }
    setDone(static_cast<int>(std::lower_bound(m_plan.begin(), m_plan.end(), position) - m_plan.begin()));
}

void ProgressLine::setDone(int done) {
    if (done == m_done)
        return;
    m_done = done;
    maybeDraw();
}

void ProgressLine::messageRead() {
    ++m_messages;
    // Checking the clock per message would cost more than the message.
    if ((m_messages & 0x3FF) == 0)
        maybeDraw();
}

QString ProgressLine::text() const {
    const qint64 ms = m_started.isValid() ? qMax<qint64>(m_started.elapsed(), 1) : 1;
    QString line = QStringLiteral("%1 of %2 %3, %4 messages/s")
                       .arg(m_done)
                       .arg(m_total)
                       .arg(m_unit)
                       .arg(m_messages * 1000 / ms);
    if (m_done > 0 && m_total >= m_done)
        line += QStringLiteral(", %1 left").arg(duration(ms * (m_total - m_done) / m_done / 1000));
    return line;
}

void ProgressLine::maybeDraw() {
    if (!m_enabled || (m_lastDrawn.isValid() && m_lastDrawn.elapsed() < kRedrawMs))
        return;
    m_lastDrawn.start();
    const QString line = text();
    // Blanks over what a longer line left, rather than an escape sequence not every console knows.
    const QString padding(qMax<qsizetype>(m_drawnWidth - line.size(), 0), QLatin1Char(' '));
    m_console.err(QLatin1Char('\r') + line + padding);
    m_drawnWidth = line.size();
}

void ProgressLine::clear() {
    if (!m_enabled || m_drawnWidth == 0)
        return;
    m_console.err(QLatin1Char('\r') + QString(m_drawnWidth, QLatin1Char(' ')) + QLatin1Char('\r'));
    m_drawnWidth = 0;
}
