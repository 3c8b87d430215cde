#include "ContactListView.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

ContactListView::ContactListView(QWidget* parent)
    : QTreeWidget(parent) {}

void ContactListView::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    if (!hasFocus() || currentIndex().isValid())
        return;
    QPainter painter(viewport());
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    option.backgroundColor = palette().color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
