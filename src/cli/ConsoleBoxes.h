#pragma once

#include "base/MessageBoxes.h"

#include <QList>
#include <QStringList>

class Console;
class ProgressLine;

// Every box a handler shows becomes one line on standard error, "parlorix-cli: <box text>", and
// nothing waits for an answer: a question is answered with No, so nothing is opened. The boxes are
// kept, for the exit status.
class ConsoleBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
    };

    ConsoleBoxes(Console& console, ProgressLine& progress);

    const QList<Shown>& shown() const { return m_shown; }
    // The transcripts the runs left as they were, from their boxes.
    const QStringList& kept() const { return m_kept; }

    // "Done." is kept back from here on, until released: a run that goes on after its handler (the
    // group chats) ends with it.
    void holdDone();
    void releaseDone();

    // Writes a line of the program's own on standard error, as a box's.
    void say(const QString& text);

    // The box text as one line: its line breaks become blanks.
    static QString oneLine(const QString& text);

protected:
    Answer present(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Answer defaultButton) override;

private:
    Console& m_console;
    ProgressLine& m_progress;
    QList<Shown> m_shown;
    QStringList m_kept;
    bool m_holdingDone = false;
    bool m_doneHeld = false;
};
