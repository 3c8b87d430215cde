#pragma once

#include "base/MessageBoxes.h"

class QWidget;

class QtMessageBoxes final : public MessageBoxes {
public:
    void setOwner(QWidget* owner) { m_owner = owner; }

protected:
    Answer present(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Answer defaultButton) override;

private:
    QWidget* m_owner = nullptr;
};
