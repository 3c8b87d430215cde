#include "FakeMessageBoxes.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"

#include <gtest/gtest.h>

FakeMessageBoxes::~FakeMessageBoxes() {
    for (qsizetype i = m_seen; i < m_shown.size(); ++i)
        ADD_FAILURE() << "a box the test never looked at: " << m_shown.at(i).text.toStdString();
}

const QList<FakeMessageBoxes::Shown>& FakeMessageBoxes::shown() const {
    m_seen = m_shown.size();
    return m_shown;
}

void FakeMessageBoxes::clear() {
    m_shown.clear();
    m_seen = 0;
}

QStringList FakeMessageBoxes::texts() const {
    m_seen = m_shown.size();
    QStringList result;
    for (const Shown& box : m_shown)
        result.append(box.text);
    return result;
}

MessageBoxes::Answer FakeMessageBoxes::present(const QString& text, const QString& title, Buttons buttons,
                                               Icon icon, Answer defaultButton) {
    m_shown.append({text, title, buttons, icon, defaultButton});
    if (whileOpen)
        whileOpen();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (m_script.isEmpty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return Answer::No;
    }
    return m_script.takeFirst();
}

QString errorReport(const QString& description, const QString& handler, int line) {
    return ErrorTrap::message(description, AppInfo::location(handler), line);
}
