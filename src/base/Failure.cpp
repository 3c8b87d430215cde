#include "Failure.h"

Failure::Failure(QString description)
    : m_description(std::move(description))
    , m_utf8(m_description.toUtf8()) {}

Failure Failure::invalidArgument() {
    return Failure(QStringLiteral("Invalid procedure call or argument"));
}

Failure Failure::objectNotSet() {
    return Failure(QStringLiteral("Object variable or With block variable not set"));
}

Failure Failure::endingRun(QString description, QString because) {
    Failure failure(std::move(description));
    failure.m_endsRunBecause = std::move(because);
    return failure;
}

const char* Failure::what() const noexcept {
    return m_utf8.constData();
}
