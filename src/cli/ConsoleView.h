#pragma once

#include "base/MainView.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>

// The main window as the handlers see it, without a window: the list's rows and ticks, the folder
// text, the export option and the two dates, all set from the command line.
class ConsoleView final : public MainView {
public:
    int mousePointer() const override { return m_pointer; }
    void setMousePointer(int value) override { m_pointer = value; }
    void processEvents() override;

    int rowCount() const override { return static_cast<int>(m_rows.size()); }
    QString rowText(int row) const override;
    bool isRowChecked(int row) const override;
    void setRowChecked(int row, bool checked) override;
    void setRowsChecked(int first, int last, bool checked) override;
    void appendRow(const QString& text) override;
    QList<int> rowsWithText(const QString& text) const override { return m_rowsByText.value(text); }

    QString outputFolderText() const override { return m_folderText; }
    void setOutputFolderText(const QString& text) override { m_folderText = text; }

    QString listButtonCaption() const override;

    bool isExportAllSelected() const override { return m_exportAll; }
    QDateTime dateFrom() const override { return m_from; }
    QDateTime dateTo() const override { return m_to; }
    void setDateFrom(const QDateTime& value) override { m_from = value; }
    void setDateTo(const QDateTime& value) override { m_to = value; }

    // "Date Range:" instead of "Export All".
    void selectDateRange(bool range) { m_exportAll = !range; }
    QStringList rows() const { return m_rows; }

    // Called where the window would handle its events, and with each row a handler looks at.
    std::function<void()> onEvents;
    std::function<void(int row)> onRow;

private:
    void checkRow(int row) const;

    int m_pointer = 0;
    QStringList m_rows;
    QList<bool> m_checked;
    QHash<QString, QList<int>> m_rowsByText;
    QString m_folderText;
    bool m_exportAll = true;
    QDateTime m_from;
    QDateTime m_to;
};
