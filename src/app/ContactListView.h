#pragma once

#include <QTreeWidget>

// The contact list. With the focus and no current row (an empty list, as at start), the style draws
// no focus at all: this one then frames the whole list, so that the focus is always seen. Screen
// readers read it through AccessibleContactList, and hear of each tick as of a check box's.
class ContactListView final : public QTreeWidget {
    Q_OBJECT

public:
    explicit ContactListView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void announceTick(QTreeWidgetItem* item, int column);
};
