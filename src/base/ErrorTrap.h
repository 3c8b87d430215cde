#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

class MessageBoxes;

// The error trap of a handler: runs its numbered steps, reports a failing step in the error report
// box and lets the handler go on with the next one. Nothing ever escapes a handler.
class ErrorTrap final {
public:
    ErrorTrap(MessageBoxes& boxes, QString location);

    // One step. Returns whether it succeeded.
    template <typename Step> bool step(int line, Step&& run) {
        try {
            std::forward<Step>(run)();
            return true;
        } catch (...) {
            report(line, std::current_exception());
            return false;
        }
    }

    // The test of a condition. A test that fails counts as passed, so the block it guards runs.
    template <typename Test> bool test(int line, Test&& condition) {
        try {
            return std::forward<Test>(condition)();
        } catch (...) {
            report(line, std::current_exception());
            return true;
        }
    }

    // The head of a counted loop. A count that cannot be read gives `onFailure` passes (0 or 1),
    // so a broken loop head never loops without end.
    template <typename Count> int count(int line, Count&& read, int onFailure = 1) {
        try {
            return std::forward<Count>(read)();
        } catch (...) {
            report(line, std::current_exception());
            return onFailure;
        }
    }

    // How many steps have failed so far: a handler tells from it whether a part of its work went wrong.
    int failures() const { return m_failures; }
    // From here on at most `boxes` more failures are shown, the others only counted; negative: all.
    void limitBoxes(int boxes) { m_boxesLeft = boxes; }
    // How many failures were shown so far.
    int shown() const { return m_shown; }
    // Why the run must end, once a step failed so that every later one would fail the same way;
    // else empty.
    const QString& endedRunBecause() const { return m_endedRunBecause; }

    // Earlier steps whose outcome is known only later (transcripts put in place in the background)
    // are told first: `settle` runs before a failure is counted or shown, and returns false when one
    // of them ended the run; the failure, of work the run would then not have done, is neither counted
    // nor shown. Without it (the default) every failure is reported at once.
    void settleFirst(std::function<bool()> settle) { m_settle = std::move(settle); }
    // Shows the failure of an earlier step of `line` that is known only now, if `withinLimit` (its box
    // falls among those its own step could show) or it ends the run; returns whether it was shown. It
    // is left out of the counts, which tell the steps under way whether their own work went wrong, but
    // takes its box from those left to them.
    bool reportLate(int line, const std::exception_ptr& error, bool withinLimit);

    // The text of the error report box.
    static QString message(const QString& description, const QString& location, int line);
    static QString describe(const std::exception_ptr& error);

private:
    void report(int line, const std::exception_ptr& error);
    void show(int line, const std::exception_ptr& error);

    MessageBoxes& m_boxes;
    QString m_location;
    int m_failures = 0;
    int m_shown = 0;
    int m_boxesLeft = -1;
    QString m_endedRunBecause;
    std::function<bool()> m_settle;
};
