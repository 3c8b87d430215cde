#include "WindowPointer.h"

#include "base/Failure.h"
#include "base/PointerFeedback.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QWidget>

void WindowPointer::loadHandPicture(const QString& file) {
    QFile cursorFile(file);
    const QByteArray bytes = cursorFile.open(QIODevice::ReadOnly) ? cursorFile.readAll() : QByteArray();
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "cur");
    const QImage picture = reader.read();
    if (picture.isNull())
        throw Failure(QStringLiteral("Invalid picture: '%1'").arg(file));
    const QPoint hotSpot = Pointer::cursorHotSpot(bytes);
    m_hand = QCursor(QPixmap::fromImage(picture), hotSpot.x(), hotSpot.y());
    m_hasHandPicture = true;
}

void WindowPointer::apply(QWidget& window, int value) {
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(&window);
    if (value == Pointer::Default) {
        for (QWidget* widget : widgets) {
            const auto own = m_own.constFind(widget);
            if (own != m_own.cend())
                widget->setCursor(*own);
            else
                widget->unsetCursor();
        }
        m_own.clear();
        return;
    }
    const QCursor cursor = value == Pointer::Wait ? QCursor(Qt::WaitCursor)
                           : m_hasHandPicture     ? m_hand
                                                  : QCursor(Qt::PointingHandCursor);
    const bool firstOverride = m_own.isEmpty();
    for (QWidget* widget : widgets) {
        if (firstOverride && widget->testAttribute(Qt::WA_SetCursor))
            m_own.insert(widget, widget->cursor());
        widget->setCursor(cursor);
    }
}
