#include "AccessibleContactList.h"

#include <QHeaderView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTreeWidget>

namespace {

// One child of the list: the column header (an invalid row) or one contact's row.
class ContactListEntry final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ContactListEntry(QTreeWidget* list, const QPersistentModelIndex& row, bool header)
        : m_list(list)
        , m_row(row)
        , m_header(header) {}

    // The child number it stands at now, -1 once its row is gone.
    int index() const {
        if (!m_list)
            return -1;
        if (m_header)
            return 0;
        return m_row.isValid() ? m_row.row() + 1 : -1;
    }

    bool isValid() const override { return index() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_list); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        if (!isValid() || t != QAccessible::Name)
            return QString();
        return m_header ? m_list->headerItem()->text(0) : item()->text(0);
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return QRect();
        if (m_header) {
            const QHeaderView* header = m_list->header();
            return header->isVisible() ? QRect(header->mapToGlobal(QPoint(0, 0)), header->size()) : QRect();
        }
        const QRect r = m_list->visualRect(m_row);
        return r.translated(m_list->viewport()->mapToGlobal(QPoint(0, 0)));
    }

    // A row reads as a check box: the AT-SPI bridge of Qt 6.4 drops the checkable state of a list
    // item, and Orca then says nothing of a missing tick; a check box is read ticked or not everywhere.
    QAccessible::Role role() const override {
        return m_header ? QAccessible::ColumnHeader : QAccessible::CheckBox;
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        if (m_header) {
            s.invisible = m_list->header()->isHidden();
            return s;
        }
        const QRect shown(m_list->viewport()->mapToGlobal(QPoint(0, 0)), m_list->viewport()->size());
        s.invisible = !m_list->isVisible() || !shown.intersects(rect());
        s.offscreen = s.invisible;
        s.checkable = true;
        s.checked = item()->checkState(0) == Qt::Checked;
        s.selectable = true;
        s.selected = item()->isSelected();
        s.focusable = true;
        s.focused = m_list->hasFocus() && m_list->currentItem() == item();
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface && !m_header
                   ? static_cast<QAccessibleActionInterface*>(this)
                   : nullptr;
    }

    QStringList actionNames() const override {
        return isValid() ? QStringList{toggleAction(), setFocusAction()} : QStringList();
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        return action == toggleAction() ? QStringList{QStringLiteral("Space")} : QStringList();
    }
    // Through the item, as a click on its box: the list's own signals tell the rest of the window.
    void doAction(const QString& action) override {
        if (!isValid())
            return;
        QTreeWidgetItem* row = item();
        if (action == toggleAction()) {
            row->setCheckState(0, row->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        } else if (action == setFocusAction()) {
            m_list->setCurrentItem(row);
            m_list->setFocus(Qt::OtherFocusReason);
        }
    }

private:
    QTreeWidgetItem* item() const { return m_list->topLevelItem(m_row.row()); }

    QPointer<QTreeWidget> m_list;
    QPersistentModelIndex m_row;
    bool m_header;
};

} // namespace

AccessibleContactList::AccessibleContactList(QTreeWidget* list)
    : QAccessibleWidget(list, QAccessible::List) {}

AccessibleContactList::~AccessibleContactList() {
    for (const QAccessible::Id id : std::as_const(m_children))
        QAccessible::deleteAccessibleInterface(id);
}

QTreeWidget* AccessibleContactList::list() const {
    return static_cast<QTreeWidget*>(widget());
}

QAccessible::Role AccessibleContactList::role() const {
    return QAccessible::List;
}

int AccessibleContactList::childCount() const {
    return isValid() ? list()->topLevelItemCount() + 1 : 0;
}

QAccessibleInterface* AccessibleContactList::child(int index) const {
    if (index < 0 || index >= childCount())
        return nullptr;
    if (const QAccessible::Id id = m_children.value(index)) {
        auto* known = static_cast<ContactListEntry*>(QAccessible::accessibleInterface(id));
        if (known && known->index() == index)
            return known;
        // Its row moved or went away: the number now stands for another row.
        m_children.remove(index);
        if (known)
            QAccessible::deleteAccessibleInterface(id);
    }
    const QPersistentModelIndex row(index == 0 ? QModelIndex() : list()->model()->index(index - 1, 0));
    auto* entry = new ContactListEntry(list(), row, index == 0);
    m_children.insert(index, QAccessible::registerAccessibleInterface(entry));
    return entry;
}

int AccessibleContactList::indexOfChild(const QAccessibleInterface* child) const {
    const auto* entry = dynamic_cast<const ContactListEntry*>(child);
    return entry && entry->parent() == this ? entry->index() : -1;
}

QAccessibleInterface* AccessibleContactList::childAt(int x, int y) const {
    if (!isValid())
        return nullptr;
    const QPoint point = list()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = list()->indexAt(point);
    if (index.isValid())
        return child(index.row() + 1);
    const QHeaderView* header = list()->header();
    if (header->isVisible() && header->rect().contains(header->mapFromGlobal(QPoint(x, y))))
        return child(0);
    return nullptr;
}

QAccessibleInterface* AccessibleContactList::focusChild() const {
    if (!isValid() || !list()->hasFocus() || !list()->currentItem())
        return nullptr;
    return child(list()->indexOfTopLevelItem(list()->currentItem()) + 1);
}
