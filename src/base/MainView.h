#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// The main window as its handlers see it. Rows of the contact list count from 1; a row outside
// the list fails, as does any other read the window cannot answer.
class MainView {
public:
    virtual ~MainView() = default;

    virtual int mousePointer() const = 0;
    virtual void setMousePointer(int value) = 0;
    // Lets the window handle pending repaints and input.
    virtual void processEvents() = 0;

    virtual int rowCount() const = 0;
    virtual QString rowText(int row) const = 0;
    virtual bool isRowChecked(int row) const = 0;
    virtual void setRowChecked(int row, bool checked) = 0;
    // Rows first to last at once, in time linear in their number.
    virtual void setRowsChecked(int first, int last, bool checked) = 0;
    virtual void appendRow(const QString& text) = 0;
    // The rows whose text is exactly this, in order. Row texts never change once appended.
    virtual QList<int> rowsWithText(const QString& text) const = 0;

    virtual QString outputFolderText() const = 0;
    virtual void setOutputFolderText(const QString& text) = 0;

    virtual QString listButtonCaption() const = 0;

    virtual bool isExportAllSelected() const = 0;
    // Whether the export run also saves the files shared in the chats beside the transcripts.
    virtual bool saveSharedFiles() const { return false; }
    virtual QDateTime dateFrom() const = 0;
    virtual QDateTime dateTo() const = 0;
    virtual void setDateFrom(const QDateTime& value) = 0;
    virtual void setDateTo(const QDateTime& value) = 0;
};
