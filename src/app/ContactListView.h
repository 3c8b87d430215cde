#pragma once

#include <QTreeWidget>

// The contact list. With the focus and no current row (an empty list, as at start), the style draws
// no focus at all: this one then frames the whole list, so that the focus is always seen.
class ContactListView final : public QTreeWidget {
    Q_OBJECT

public:
    explicit ContactListView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
