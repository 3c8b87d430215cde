#include "Form1.h"

#include "AccessibleContactList.h"
#include "ContactListView.h"
#include "SkinFramework.h"
#include "base/AppInfo.h"
#include "base/DateText.h"
#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/MessageBoxes.h"
#include "base/PointerFeedback.h"
#include "base/Settings.h"
#include "export/DateRange.h"
#include "export/ExportRun.h"
#include "export/LegacyExport.h"
#include "folder/OutputFolder.h"
#include "skype/AccessGuidance.h"
#include "skype/ContactList.h"
#include "skype/HistoryDrop.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

// Layout is given in twips, 15 to a pixel.
int px(int twips) {
    return qRound(twips / 15.0);
}

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

QFont arialBold(qreal points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QDateTime designedDate() {
    return QDateTime(QDate(2012, 1, 19), QTime(10, 16, 27));
}

// What screen readers are told of the window and the contact list: the window reads as a window
// (a frame to AT-SPI), where Qt takes a plain widget for a client area, and the list through its own
// interface. Installed before any control exists, as an interface once made is kept for good.
QAccessibleInterface* accessibleInterfaceFor(const QString& className, QObject* object) {
    if (className == QLatin1String("Form1"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    if (className == QLatin1String("ContactListView"))
        return new AccessibleContactList(static_cast<QTreeWidget*>(object));
    return nullptr;
}

QTreeWidgetItem* rowItem(const QTreeWidget* list, int row) {
    if (row < 1 || row > list->topLevelItemCount())
        throw Failure(QStringLiteral("Index out of bounds"));
    return list->topLevelItem(row - 1);
}

} // namespace

Form1::Form1(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_skin(new SkinFramework(this))
    , m_outputFolder(std::make_unique<OutputFolder>(*this, m_services)) {
    QAccessible::installFactory(accessibleInterfaceFor);
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(8040), px(5910));
    setFont(arialBold(9));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Form1"));

    createControls();
    describeControls();
    setTabOrder();
    setAcceptDrops(true);
}

Form1::~Form1() = default;

void Form1::createControls() {
    const auto button = [this](const char* name, const char* caption, QRect geometry, QWidget* parent) {
        auto* b = new QPushButton(QString::fromLatin1(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        b->setFont(arialBold(11.25));
        QPalette p = b->palette();
        p.setColor(QPalette::Button, Qt::white);
        p.setColor(QPalette::ButtonText, QApplication::palette().color(QPalette::ButtonText));
        b->setPalette(p);
        b->setMouseTracking(true);
        b->installEventFilter(this);
        return b;
    };

    m_pushButton13 = button("PushButton13", "Help", twipsRect(120, 120, 7800, 405), this);
    m_pushButton2 = button("PushButton2", "1. List Contacts In Skype", twipsRect(120, 630, 3840, 405), this);
    m_pushButton1 =
        button("PushButton1", "2. Click 'Allow access' In Skype", twipsRect(4080, 630, 3840, 405), this);

    m_listView1 = new ContactListView(this);
    m_listView1->setObjectName(QStringLiteral("ListView1"));
    m_listView1->setGeometry(twipsRect(120, 1140, 7800, 2775));
    m_listView1->setFont(arialBold(9));
    m_listView1->setToolTip(QStringLiteral("Move | line to right and out of window to reveal full names."));
    m_listView1->setRootIsDecorated(false);
    m_listView1->setSortingEnabled(false);
    m_listView1->setUniformRowHeights(true);
    m_listView1->setHeaderHidden(true);
    m_listView1->header()->setStretchLastSection(false);
    m_listView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (QWidget* part : {static_cast<QWidget*>(m_listView1), m_listView1->viewport(),
                          static_cast<QWidget*>(m_listView1->header())}) {
        part->setMouseTracking(true);
        part->installEventFilter(this);
    }

    m_pushButton3 = button("PushButton3", "Check All", twipsRect(120, 4000, 3840, 405), this);
    m_pushButton4 = button("PushButton4", "Uncheck All", twipsRect(4080, 4000, 3840, 405), this);

    m_frame1 = new QGroupBox(QStringLiteral("Save Results To This Folder"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(twipsRect(120, 4470, 7800, 820));
    m_text1 = new QLineEdit(m_frame1);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setGeometry(twipsRect(240, 300, 6495, 345));
    m_pushButton5 = button("PushButton5", "...", twipsRect(6840, 300, 720, 345), m_frame1);

    m_pushButton7 =
        button("PushButton7", "3. Save Checked Chat Histories", twipsRect(120, 5400, 7800, 405), this);
    m_pushButton6 = button("PushButton6", "Old 3.", twipsRect(120, 6030, 2520, 405), this);

    m_frame2 = new QGroupBox(QStringLiteral("Export Option"), this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setGeometry(twipsRect(120, 6510, 6840, 1215));
    m_option1 = new QRadioButton(QStringLiteral("Export All"), m_frame2);
    m_option1->setObjectName(QStringLiteral("Option1"));
    m_option1->setGeometry(twipsRect(240, 300, 1575, 225));
    m_option1->setChecked(true);
    m_option2 = new QRadioButton(QStringLiteral("Date Range:"), m_frame2);
    m_option2->setObjectName(QStringLiteral("Option2"));
    m_option2->setGeometry(twipsRect(240, 720, 1455, 225));

    const auto picker = [this](const char* name, QRect geometry) {
        auto* p = new QDateTimeEdit(designedDate(), m_frame2);
        p->setObjectName(QString::fromLatin1(name));
        p->setGeometry(geometry);
        p->setDateTimeRange(QDateTime(QDate(1601, 1, 1), QTime(0, 0)),
                            QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)));
        p->setCalendarPopup(true);
        return p;
    };
    m_dtpFrom = picker("dtpFrom", twipsRect(1800, 645, 1575, 375));
    m_label1 = new QLabel(QStringLiteral("To"), m_frame2);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(twipsRect(3600, 720, 210, 225));
    m_dtpTo = picker("dtpTo", twipsRect(4080, 645, 1575, 375));
    m_check1 = new QCheckBox(QStringLiteral("Save Shared Files"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setGeometry(twipsRect(120, 7845, 3840, 285));

    // Only the buttons, the list, the frames and the window itself report pointer movement;
    // moving over the other controls leaves the pointer as it was.
    setMouseTracking(true);
    for (QWidget* frame : {m_frame1, m_frame2}) {
        frame->setMouseTracking(true);
        frame->installEventFilter(this);
    }
    for (QWidget* silent : std::initializer_list<QWidget*>{m_text1, m_option1, m_option2, m_label1, m_dtpFrom,
                                                           m_dtpTo, m_check1})
        silent->setAttribute(Qt::WA_NoMousePropagation);
    installEventFilter(this);
    // For their keys only: Tab leaves a picker.
    m_dtpFrom->installEventFilter(this);
    m_dtpTo->installEventFilter(this);

    connect(m_pushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(m_pushButton13, &QPushButton::clicked, this, &Form1::PushButton13_Click);
    connect(m_pushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(m_pushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(m_pushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(m_pushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(m_pushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(m_pushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(m_text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(m_check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    // Start-up and the handlers set the pickers with their signals blocked: these run only for
    // the user's own changes.
    connect(m_dtpFrom, &QDateTimeEdit::dateTimeChanged, this, &Form1::dtpFrom_Change);
    connect(m_dtpTo, &QDateTimeEdit::dateTimeChanged, this, &Form1::dtpTo_Change);
}

void Form1::describeControls() {
    const auto describe = [](QWidget* widget, const QString& name, const QString& description) {
        if (!name.isEmpty())
            widget->setAccessibleName(name);
        widget->setAccessibleDescription(description);
    };
    describe(
        m_listView1, QStringLiteral("Contacts"),
        QStringLiteral("Tick the contacts whose chats to save. Space ticks or clears the current contact."));
    describe(m_pushButton13, QString(), QStringLiteral("Explains the steps and offers the help video."));
    describe(m_pushButton2, QString(),
             QStringLiteral("Fills the contact list with the contacts of your Skype history."));
    describe(m_pushButton1, QString(),
             QStringLiteral("Plays the help video that shows how to allow access in Skype."));
    describe(m_pushButton3, QString(), QStringLiteral("Ticks every contact in the list."));
    describe(m_pushButton4, QString(), QStringLiteral("Clears the tick of every contact in the list."));
    describe(m_frame1, QString(), QStringLiteral("The folder the transcripts are saved to."));
    describe(m_text1, QStringLiteral("Output folder"),
             QStringLiteral("The folder the transcripts are saved to."));
    describe(m_pushButton5, QStringLiteral("Choose the output folder"),
             QStringLiteral("Opens the folder browser to pick the folder the transcripts are saved to."));
    describe(m_pushButton7, QString(),
             QStringLiteral("Writes one transcript for every ticked contact into the output folder."));
    describe(m_pushButton6, QString(),
             QStringLiteral("The older export: writes the chats of every ticked contact as the export option "
                            "below says."));
    describe(m_frame2, QString(), QStringLiteral("What the older export, Old 3., writes."));
    describe(m_option1, QString(), QStringLiteral("Old 3. writes every chat of each ticked contact."));
    describe(m_option2, QString(),
             QStringLiteral("Old 3. writes only the chats between the first and the last date."));
    describe(m_dtpFrom, QStringLiteral("First date"), QStringLiteral("The first day of the date range."));
    describe(m_dtpTo, QStringLiteral("Last date"), QStringLiteral("The last day of the date range."));
    describe(
        m_check1, QString(),
        QStringLiteral("3. Save Checked Chat Histories also saves the photos, documents, videos and voice "
                       "messages a Skype export holds for those chats, into the folder Shared files beside "
                       "the transcripts."));
}

void Form1::setTabOrder() {
    // Frames and the label take no focus; the rest follow the designed order.
    const QList<QWidget*> order{m_listView1,   m_pushButton2, m_pushButton6, m_pushButton13, m_text1,
                                m_pushButton5, m_option1,     m_option2,     m_dtpFrom,      m_dtpTo,
                                m_pushButton1, m_pushButton3, m_pushButton4, m_pushButton7,  m_check1};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    m_listView1->setFocus();
}

void Form1::Form_Load() {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("Form_Load")));

    trap.step(100, [&] { ApplySkin(); });
    const QString handFile = AppInfo::handPointerFile(m_services.programFolder);
    if (trap.test(104, [&] { return QFileInfo::exists(handFile); }))
        trap.step(106,
                  [&] { m_pointer.loadHandPicture(AppInfo::handPointerFile(m_services.programFolder)); });
    trap.step(108, [&] { AppInfo::openHomePageAtRandom(m_services.random, m_services.shell); });
    trap.step(126, [&] { setWindowTitle(AppInfo::productName()); });
    trap.step(126, [&] { setWindowIcon(QIcon(QStringLiteral(":/parlorix.ico"))); });
    trap.step(126, [&] {
        m_services.boxes.setApplicationTitle(AppInfo::applicationTitleFor(AppInfo::productName()));
    });
    trap.step(128, [&] {
        m_listView1->setHeaderLabels({QStringLiteral("Contacts")});
        m_listView1->setHeaderHidden(false);
    });
    trap.step(130, [&] { m_listView1->setColumnWidth(0, px(7000)); });
    trap.step(132, [&] {
        const QString desktop = AppInfo::desktopFolder(m_services.shell);
        setOutputFolderText(GetSetting(m_services.settings, Settings::application(), Settings::section(),
                                       Settings::outputFolderKey(), desktop));
    });
    const QString today = DateText::toText(QDateTime(QDate::currentDate(), QTime(0, 0)));
    const auto storedDate = [&](const QString& key) {
        const QString text =
            GetSetting(m_services.settings, Settings::application(), Settings::section(), key, today);
        const std::optional<QDateTime> value = DateText::fromText(text);
        if (!value)
            throw Failure(QStringLiteral("Type mismatch: \"%1\" is not a date").arg(text));
        return *value;
    };
    trap.step(134, [&] { setDateFrom(storedDate(Settings::date1Key())); });
    trap.step(136, [&] { setDateTo(storedDate(Settings::date2Key())); });
    trap.step(138, [&] {
        m_check1->setChecked(GetSetting(m_services.settings, Settings::application(), Settings::section(),
                                        Settings::saveSharedFilesKey(),
                                        QStringLiteral("0")) == QLatin1String("1"));
    });
}

void Form1::ApplySkin() {
    const QString skinFile = AppInfo::skinFile(m_services.programFolder);
    if (!QFileInfo(skinFile).isFile())
        return;

    const QColor buttonFace = QApplication::palette().color(QPalette::Active, QPalette::Button);
    const auto paint = [&](QWidget* widget) {
        QPalette p = widget->palette();
        p.setColor(QPalette::Window, buttonFace);
        widget->setPalette(p);
        widget->setAutoFillBackground(true);
    };
    paint(this);
    for (QWidget* plain : std::initializer_list<QWidget*>{m_frame1, m_frame2, m_option1, m_option2, m_label1})
        paint(plain);

    m_skin->invoke(2, {skinFile, QString()});
    m_skin->putProperty(1, m_skin->getProperty(1).toInt() | 1);
    m_skin->putProperty(5, true);
    m_skin->putProperty(10, true);
    m_skin->invoke(3, {static_cast<qulonglong>(winId())});
}

void Form1::setMousePointer(int value) {
    // Every move over a button sets the value again: the controls' pointers change only with it.
    const bool changed = value != m_mousePointer;
    m_mousePointer = value;
    if (changed)
        m_pointer.apply(*this, value);
}

void Form1::processEvents() {
    QCoreApplication::processEvents();
}

int Form1::rowCount() const {
    return m_listView1->topLevelItemCount();
}

QString Form1::rowText(int row) const {
    return rowItem(m_listView1, row)->text(0);
}

bool Form1::isRowChecked(int row) const {
    return rowItem(m_listView1, row)->checkState(0) == Qt::Checked;
}

void Form1::setRowChecked(int row, bool checked) {
    rowItem(m_listView1, row)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void Form1::setRowsChecked(int first, int last, bool checked) {
    if (first > last)
        return;
    rowItem(m_listView1, first);
    rowItem(m_listView1, last);
    QAbstractItemModel* model = m_listView1->model();
    {
        // The tree looks up each changed item's row by a search through the list: one change per
        // row would make ticking every row quadratic. One change for the whole range instead.
        const QSignalBlocker quiet(model);
        for (int row = first; row <= last; ++row)
            m_listView1->topLevelItem(row - 1)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
    Q_EMIT model->dataChanged(model->index(first - 1, 0), model->index(last - 1, 0), {Qt::CheckStateRole});
}

void Form1::appendRow(const QString& text) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    m_listView1->addTopLevelItem(item);
    m_rowsByText[text].append(m_listView1->topLevelItemCount());
}

QList<int> Form1::rowsWithText(const QString& text) const {
    return m_rowsByText.value(text);
}

QString Form1::outputFolderText() const {
    return m_text1->text();
}

void Form1::setOutputFolderText(const QString& text) {
    m_text1->setText(text);
}

QString Form1::listButtonCaption() const {
    return m_pushButton2->text();
}

bool Form1::isExportAllSelected() const {
    return m_option1->isChecked();
}

bool Form1::saveSharedFiles() const {
    return m_check1->isChecked();
}

QDateTime Form1::dateFrom() const {
    return m_dtpFrom->dateTime();
}

QDateTime Form1::dateTo() const {
    return m_dtpTo->dateTime();
}

void Form1::setDateFrom(const QDateTime& value) {
    const QSignalBlocker quiet(m_dtpFrom);
    m_dtpFrom->setDateTime(value);
}

void Form1::setDateTo(const QDateTime& value) {
    const QSignalBlocker quiet(m_dtpTo);
    m_dtpTo->setDateTime(value);
}

void Form1::PushButton1_Click() {
    AccessGuidance(*this, m_services).showVideo();
}

void Form1::PushButton13_Click() {
    AccessGuidance(*this, m_services).showHelp();
}

void Form1::PushButton2_Click() {
    ContactList(*this, m_services).listContacts();
}

void Form1::PushButton3_Click() {
    ContactList(*this, m_services).checkAll();
}

void Form1::PushButton4_Click() {
    ContactList(*this, m_services).uncheckAll();
}

void Form1::PushButton5_Click() {
    m_outputFolder->browse();
}

void Form1::PushButton6_Click() {
    if (m_exporting)
        return;
    const QScopedValueRollback<bool> busy(m_exporting, true);
    LegacyExport(*this, m_services).run();
}

void Form1::PushButton7_Click() {
    if (m_exporting)
        return;
    const QScopedValueRollback<bool> busy(m_exporting, true);
    ExportRun(*this, m_services).run();
}

void Form1::dtpFrom_Change() {
    DateRange(*this, m_services).fromChanged();
}

void Form1::dtpTo_Change() {
    DateRange(*this, m_services).toChanged();
}

void Form1::Text1_Change() {
    m_outputFolder->storeText();
}

void Form1::Check1_Click() {
    SaveSettingTellingOnce(m_services.settings, m_services.boxes, Settings::saveSharedFilesKey(),
                           m_check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::PushButton_MouseMove() {
    Pointer::hover(*this, Pointer::Hand);
}

void Form1::Background_MouseMove() {
    Pointer::hover(*this, Pointer::Default);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && keyPressed(watched, *static_cast<QKeyEvent*>(event)))
        return true;
    if (event->type() != QEvent::MouseMove || watched == m_dtpFrom || watched == m_dtpTo)
        return QWidget::eventFilter(watched, event);
    const bool overButton = qobject_cast<QPushButton*>(watched) != nullptr;
    if (overButton)
        PushButton_MouseMove();
    else
        Background_MouseMove();
    // A button ignores plain moves, which would then reach the window behind it and undo the hand.
    if (overButton && static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton) {
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// Enter presses a focused button, as Space does. A date picker is one Tab stop: Tab goes on to the
// next control, and the arrow keys move between the picker's fields.
bool Form1::keyPressed(QObject* watched, const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button && modifiers == Qt::NoModifier &&
        (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)) {
        button->click();
        return true;
    }
    if ((watched == m_dtpFrom || watched == m_dtpTo) &&
        (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab)) {
        focusNextPrevChild(key.key() == Qt::Key_Tab && !(modifiers & Qt::ShiftModifier));
        return true;
    }
    return false;
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty())
        return;
    event->acceptProposedAction();
    // Several dropped at once are read as one history.
    QStringList paths;
    for (const QUrl& url : urls)
        paths.append(url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString());
    HistoryDrop::take(paths, m_services);
}
