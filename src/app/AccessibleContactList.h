#pragma once

#include <QAccessibleWidget>
#include <QHash>

class QTreeWidget;

// What screen readers are told of the contact list: a list whose items are the contacts, each a
// check box whose tick is its checked state, with a toggle action that ticks or clears it as Space
// does. Qt's own interface for a tree widget offers the toggle too, but it selects the row and leaves
// the tick. Child 0 is the column header and child n the list's row n, the numbering Qt's item views
// use in the focus and selection events they send.
class AccessibleContactList final : public QAccessibleWidget {
public:
    explicit AccessibleContactList(QTreeWidget* list);
    ~AccessibleContactList() override;

    QAccessible::Role role() const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

private:
    QTreeWidget* list() const;

    // The items handed out, by child number, kept for as long as they stand at that number: the
    // platform bridges know an item by the id it was registered with.
    mutable QHash<int, QAccessible::Id> m_children;
};
