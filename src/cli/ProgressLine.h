#pragma once

#include "skype/ReadProgress.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class Console;

// One line on standard error that updates in place while a run goes on: how many of what are done,
// messages read per second and the time left. Drawn only on a terminal, and not when asked to be
// quiet; redrawn at most a few times a second. The link tells it the chats and messages read.
class ProgressLine final : public ReadProgress {
public:
    // Milliseconds from any fixed start.
    using Clock = std::function<qint64()>;

    // `clock`: the system's steady clock unless given.
    ProgressLine(Console& console, bool enabled, Clock clock = Clock());

    bool enabled() const { return m_enabled; }

    // What a stretch of work counts: every chat of the link; rows, which what the link says of its
    // chats (their number, plan and positions) does not move; or only the chats the reader plans to
    // read (the group chats), which nothing moves before the plan.
    enum class Counting { Chats, Rows, PlannedChats };

    // A new stretch of work counted in `unit` ("chats", "contacts"); clears the counts.
    void begin(const QString& unit, Counting counting = Counting::Chats);
    // The whole count, unless a plan was given.
    void setTotal(int total);
    // The chats (positions, ascending) this stretch counts, whatever the link is told of: the
    // contacts' pass leaves out the group chats, which it only passes over.
    void countOnly(std::vector<int> positions);
    void setDone(int done);

    // The link's number of chats: the whole count when counting chats.
    void chatsCounted(int total) override;
    // The planned chats (ascending) are the whole count, unless counting rows.
    void chatsPlanned(const std::vector<int>& positions) override;
    // The chat at this position of the history is read: done are the chats before it, or, when the
    // reader said which chats it reads, the planned ones before it.
    void chatAsked(int position) override;
    void messageRead() override;

    // Takes the line off the screen, so that other text can be written where it stood.
    void clear();
    // The line's text as it would be drawn now.
    QString text() const;

private:
    void maybeDraw();

    Console& m_console;
    bool m_enabled;
    QString m_unit;
    Counting m_counting = Counting::Chats;
    int m_total = 0;
    int m_done = 0;
    qint64 m_messages = 0;
    std::vector<int> m_plan;
    bool m_planGiven = false; // by countOnly, not by the link
    Clock m_clock;
    qint64 m_started = 0;
    // When the first chat was done, and how many were then: the time left is measured from there,
    // as a history may read most of itself before it hands over its first chat.
    std::optional<qint64> m_firstDoneAt;
    int m_doneAtFirst = 0;
    std::optional<qint64> m_lastDrawn;
    qsizetype m_drawnWidth = 0;
};
