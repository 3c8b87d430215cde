#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one exception type of the program: a description a user can read and act on.
class Failure final : public std::exception {
public:
    explicit Failure(QString description);

    // The platform's "invalid procedure call or argument" error.
    static Failure invalidArgument();
    // A step that needs an object an earlier, failed step should have given.
    static Failure objectNotSet();
    // A failure after which every later step of the run would fail the same way (the history can no
    // longer be read): the run ends there. `because` completes "The export stopped because ...".
    static Failure endingRun(QString description, QString because);

    const QString& description() const { return m_description; }
    // Why the run must end; empty for a failure of one step alone.
    const QString& endsRunBecause() const { return m_endsRunBecause; }
    const char* what() const noexcept override;

private:
    QString m_description;
    QString m_endsRunBecause;
    QByteArray m_utf8;
};
