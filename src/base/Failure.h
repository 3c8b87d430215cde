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

    const QString& description() const { return m_description; }
    const char* what() const noexcept override;

private:
    QString m_description;
    QByteArray m_utf8;
};
