#pragma once

#include "base/MessageBoxes.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Records every box; answers Yes/No boxes from a script. A Yes/No box the test did not script
// fails the test, and so does any box the test never looked at (through shown(), texts() or clear())
// by the time the fake goes: no box passes unseen.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
        Answer defaultButton;
    };

    FakeMessageBoxes() = default;
    ~FakeMessageBoxes() override;
    FakeMessageBoxes(const FakeMessageBoxes&) = delete;
    FakeMessageBoxes& operator=(const FakeMessageBoxes&) = delete;

    void answer(Answer next) { m_script.append(next); }
    const QList<Shown>& shown() const;
    QStringList texts() const;
    // Clears what was recorded so far.
    void clear();
    // Called from inside the box, while it is open (the pointer the window shows meanwhile, say).
    std::function<void()> whileOpen;

protected:
    Answer present(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Answer defaultButton) override;

private:
    QList<Answer> m_script;
    QList<Shown> m_shown;
    mutable qsizetype m_seen = 0;
};

// The error report text a trap shows for a failing step.
QString errorReport(const QString& description, const QString& handler, int line);
