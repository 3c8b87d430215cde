#pragma once

#include <QCursor>
#include <QHash>
#include <QString>

class QWidget;

// The pointer one value shows over a whole window: 0 gives every control back the pointer it had
// of its own, 11 the wait pointer, 99 the hand picture (or the platform's pointing hand without one).
class WindowPointer final {
public:
    // Reads the hand picture, a Windows cursor file, with its hot spot. Fails with a description.
    void loadHandPicture(const QString& file);
    bool hasHandPicture() const { return m_hasHandPicture; }

    // Shows the value over the window and every control in it.
    void apply(QWidget& window, int value);

private:
    QCursor m_hand;
    bool m_hasHandPicture = false;
    // The pointers the controls had of their own before the first override.
    QHash<QWidget*, QCursor> m_own;
};
