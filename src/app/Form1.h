#pragma once

#include "WindowPointer.h"

#include "base/MainView.h"
#include "base/Services.h"

#include <QHash>
#include <QWidget>

#include <memory>

class QCheckBox;
class QDateTimeEdit;
class QKeyEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class OutputFolder;
class SkinFramework;

// The program's only window. It owns the controls and wires their signals; what the handlers do
// lives with their subsystems.
class Form1 final : public QWidget, public MainView {
    Q_OBJECT

public:
    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence, run once before the window is shown.
    void Form_Load();

    SkinFramework& skin() { return *m_skin; }
    bool hasHandPicture() const { return m_pointer.hasHandPicture(); }

    // MainView
    int mousePointer() const override { return m_mousePointer; }
    void setMousePointer(int value) override;
    void processEvents() override;
    int rowCount() const override;
    QString rowText(int row) const override;
    bool isRowChecked(int row) const override;
    void setRowChecked(int row, bool checked) override;
    void setRowsChecked(int first, int last, bool checked) override;
    void appendRow(const QString& text) override;
    QList<int> rowsWithText(const QString& text) const override;
    QString outputFolderText() const override;
    void setOutputFolderText(const QString& text) override;
    QString listButtonCaption() const override;
    bool isExportAllSelected() const override;
    bool saveSharedFiles() const override;
    QDateTime dateFrom() const override;
    QDateTime dateTo() const override;
    void setDateFrom(const QDateTime& value) override;
    void setDateTo(const QDateTime& value) override;

public Q_SLOTS:
    void PushButton1_Click();
    void PushButton13_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void Text1_Change();
    void Check1_Click();
    void dtpFrom_Change();
    void dtpTo_Change();

    // Hover feedback: the hand over the push buttons, the default pointer elsewhere.
    void PushButton_MouseMove();
    void Background_MouseMove();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A Skype history dropped onto the window becomes the one the program reads; several dropped at
    // once are read as one.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    // What a screen reader says of each control, where its caption alone does not tell.
    void describeControls();
    void setTabOrder();
    // Keys as on the desktop the window was designed for; true when the key was used up.
    bool keyPressed(QObject* watched, const QKeyEvent& key);
    void ApplySkin();

    Services m_services;
    SkinFramework* m_skin;
    std::unique_ptr<OutputFolder> m_outputFolder;

    QPushButton* m_pushButton1;
    QPushButton* m_pushButton2;
    QPushButton* m_pushButton3;
    QPushButton* m_pushButton4;
    QPushButton* m_pushButton5;
    QPushButton* m_pushButton6;
    QPushButton* m_pushButton7;
    QPushButton* m_pushButton13;
    QTreeWidget* m_listView1;
    QGroupBox* m_frame1;
    QLineEdit* m_text1;
    QGroupBox* m_frame2;
    QRadioButton* m_option1;
    QRadioButton* m_option2;
    QDateTimeEdit* m_dtpFrom;
    QLabel* m_label1;
    QDateTimeEdit* m_dtpTo;
    // Below the window's edge, beside the older export's controls: the layout stays as it was.
    QCheckBox* m_check1;

    // Two interleaved exports would corrupt the transcripts: a press during a run is ignored.
    bool m_exporting = false;
    int m_mousePointer = 0;
    WindowPointer m_pointer;
    // The controls' own pointers, kept while a window-wide pointer overrides them.
    // Row numbers by row text, so that matching a chat to its rows does not walk the whole list.
    QHash<QString, QList<int>> m_rowsByText;
};
