#include "MessageBoxes.h"

MessageBoxes::Answer MessageBoxes::show(const QString& text, const QString& title, Buttons buttons, Icon icon,
                                        Answer defaultButton) {
    return present(text, title.isEmpty() ? m_applicationTitle : title, buttons, icon, defaultButton);
}

void MessageBoxes::inform(const QString& text) {
    show(text, QString(), Buttons::Ok, Icon::None, Answer::Ok);
}
