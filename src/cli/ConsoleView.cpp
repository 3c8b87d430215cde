#include "ConsoleView.h"

#include "base/Failure.h"

void ConsoleView::processEvents() {
    if (onEvents)
        onEvents();
}

void ConsoleView::checkRow(int row) const {
    if (row < 1 || row > rowCount())
        throw Failure(QStringLiteral("Index out of bounds"));
}

QString ConsoleView::rowText(int row) const {
    checkRow(row);
    return m_rows.at(row - 1);
}

bool ConsoleView::isRowChecked(int row) const {
    checkRow(row);
    if (onRow)
        onRow(row);
    return m_checked.at(row - 1);
}

void ConsoleView::setRowChecked(int row, bool checked) {
    checkRow(row);
    m_checked[row - 1] = checked;
}

void ConsoleView::setRowsChecked(int first, int last, bool checked) {
    if (first > last)
        return;
    checkRow(first);
    checkRow(last);
    for (int row = first; row <= last; ++row)
        m_checked[row - 1] = checked;
}

void ConsoleView::appendRow(const QString& text) {
    m_rows.append(text);
    m_checked.append(false);
    m_rowsByText[text].append(rowCount());
}

QString ConsoleView::listButtonCaption() const {
    return QStringLiteral("1. List Contacts In Skype");
}
