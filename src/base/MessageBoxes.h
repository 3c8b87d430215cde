#pragma once

#include <QString>

// Modal message boxes. Boxes without a title of their own show the application title.
class MessageBoxes {
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Warning };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;

    // An empty title stands for the application title.
    Answer show(const QString& text, const QString& title, Buttons buttons, Icon icon, Answer defaultButton);
    // An OK box without icon under the application title ("Done.").
    void inform(const QString& text);

    void setApplicationTitle(const QString& title) { m_applicationTitle = title; }
    const QString& applicationTitle() const { return m_applicationTitle; }

protected:
    virtual Answer present(const QString& text, const QString& title, Buttons buttons, Icon icon,
                           Answer defaultButton) = 0;

private:
    QString m_applicationTitle;
};
