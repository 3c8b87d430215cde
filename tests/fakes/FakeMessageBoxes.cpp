#include "FakeMessageBoxes.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"

#include <gtest/gtest.h>

QStringList FakeMessageBoxes::texts() const {
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
