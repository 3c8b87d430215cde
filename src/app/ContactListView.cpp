#include "ContactListView.h"

#include <QAccessible>
#include <QPainter>
#include <QStyleOptionFocusRect>

ContactListView::ContactListView(QWidget* parent)
    : QTreeWidget(parent) {
    connect(this, &QTreeWidget::itemChanged, this, &ContactListView::announceTick);
}

void ContactListView::announceTick(QTreeWidgetItem* item, int column) {
    if (column != 0 || !QAccessible::isActive())
        return;
    const int row = indexOfTopLevelItem(item);
    if (row < 0)
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    // The list's child 0 is its column header.
    event.setChild(row + 1);
    QAccessible::updateAccessibility(&event);
}

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
