#include "ProgressLine.h"

#include "Console.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr qint64 kRedrawMs = 200;
// The time left is a guess from the chats done so far: before a few chats over a few seconds it is
// no more than noise (a run of two seconds was promised three minutes).
constexpr qint64 kGuessAfterMs = 3000;
constexpr int kGuessAfterChats = 3;

QString duration(qint64 seconds) {
    const qint64 hours = seconds / 3600;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(hours ? (seconds / 60) % 60 : seconds / 60, hours ? 2 : 1, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QString::number(hours) + QLatin1Char(':') + minutesAndSeconds : minutesAndSeconds;
}

} // namespace

ProgressLine::ProgressLine(Console& console, bool enabled, Clock clock)
    : m_console(console)
    , m_enabled(enabled)
    , m_clock(std::move(clock)) {
    if (!m_clock) {
        auto steady = std::make_shared<QElapsedTimer>();
        steady->start();
        m_clock = [steady] { return steady->elapsed(); };
    }
}

void ProgressLine::begin(const QString& unit, Counting counting) {
    m_unit = unit;
    m_counting = counting;
    m_total = 0;
    m_done = 0;
    m_messages = 0;
    m_plan.clear();
    m_planGiven = false;
    m_started = m_clock();
    m_firstDoneAt.reset();
    m_doneAtFirst = 0;
    m_lastDrawn.reset();
}

void ProgressLine::setTotal(int total) {
    // A plan counts only the chats it names.
    if (m_plan.empty() && !m_planGiven)
        m_total = total;
}

void ProgressLine::countOnly(std::vector<int> positions) {
    m_plan = std::move(positions);
    m_planGiven = true;
    m_total = static_cast<int>(m_plan.size());
}

void ProgressLine::chatsCounted(int total) {
    if (m_counting == Counting::Chats)
        setTotal(total);
}

void ProgressLine::chatsPlanned(const std::vector<int>& positions) {
    if (m_counting == Counting::Rows || m_planGiven)
        return;
    m_plan = positions;
    m_total = static_cast<int>(m_plan.size());
}

void ProgressLine::chatAsked(int position) {
    // The group chats are told from the others by asking for every chat: that is no progress.
    if (m_counting == Counting::Rows || (m_counting == Counting::PlannedChats && m_plan.empty()))
        return;
    if (m_plan.empty() && !m_planGiven) {
        setDone(position - 1);
        return;
    }
    setDone(static_cast<int>(std::lower_bound(m_plan.begin(), m_plan.end(), position) - m_plan.begin()));
}

void ProgressLine::setDone(int done) {
    if (done == m_done)
        return;
    if (!m_firstDoneAt && done > 0) {
        m_firstDoneAt = m_clock();
        m_doneAtFirst = done;
    }
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
    const qint64 now = m_clock();
    const qint64 ms = qMax<qint64>(now - m_started, 1);
    QString line = QStringLiteral("%1 of %2 %3, %4 messages/s")
                       .arg(m_done)
                       .arg(m_total)
                       .arg(m_unit)
                       .arg(m_messages * 1000 / ms);
    const qint64 measuredMs = m_firstDoneAt ? now - *m_firstDoneAt : 0;
    const int measured = m_done - m_doneAtFirst;
    if (measuredMs >= kGuessAfterMs && measured >= kGuessAfterChats && m_total >= m_done)
        line += QStringLiteral(", %1 left").arg(duration(measuredMs * (m_total - m_done) / measured / 1000));
    return line;
}

void ProgressLine::maybeDraw() {
    const qint64 now = m_clock();
    if (!m_enabled || (m_lastDrawn && now - *m_lastDrawn < kRedrawMs))
        return;
    m_lastDrawn = now;
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
