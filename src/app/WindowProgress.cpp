#include "WindowProgress.h"

#include <QCoreApplication>

namespace {

constexpr qint64 kRepaintMs = 100;

} // namespace

void WindowProgress::chatAsked(int position) {
    static_cast<void>(position);
    repaint();
}

void WindowProgress::messageRead() {
    // Checking the clock per message would cost more than the message.
    if ((++m_messages & 0x3FF) == 0)
        repaint();
}

void WindowProgress::repaint() {
    if (m_lastRepaint.isValid() && m_lastRepaint.elapsed() < kRepaintMs)
        return;
    m_lastRepaint.start();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
