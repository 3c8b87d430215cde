#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include "app/SkinFramework.h"
#include "base/AppInfo.h"
#include "base/Failure.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

const QDateTime designed(QDate(2012, 1, 19), QTime(10, 16, 27));

QDateTime today() {
    return QDateTime(QDate::currentDate(), QTime(0, 0));
}

QString sourceFile(const char* relative) {
    return QStringLiteral(PARLORIX_SOURCE_DIR "/") + QString::fromLatin1(relative);
}

TEST(Form1Layout, ControlsStandWhereTheyWereDesigned) {
    TestWindow w;
    Form1& form = w.load();
    EXPECT_EQ(form.size(), QSize(536, 394));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Parlorix Suite"));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Expected {
        const char* name;
        QRect geometry;
        const char* caption;
    };
    const Expected buttons[] = {
        {"PushButton13", {8, 8, 520, 27}, "Help"},
        {"PushButton2", {8, 42, 256, 27}, "1. List Contacts In Skype"},
        {"PushButton1", {272, 42, 256, 27}, "2. Click 'Allow access' In Skype"},
        {"PushButton3", {8, 267, 256, 27}, "Check All"},
        {"PushButton4", {272, 267, 256, 27}, "Uncheck All"},
        {"PushButton5", {456, 20, 48, 23}, "..."},
        {"PushButton7", {8, 360, 520, 27}, "3. Save Checked Chat Histories"},
        {"PushButton6", {8, 402, 168, 27}, "Old 3."},
    };
    for (const Expected& e : buttons) {
        auto* button = w.find<QPushButton>(e.name);
        ASSERT_NE(button, nullptr) << e.name;
        EXPECT_EQ(button->geometry(), e.geometry) << e.name;
        EXPECT_EQ(button->text(), QString::fromLatin1(e.caption)) << e.name;
        EXPECT_EQ(button->font().family(), QStringLiteral("Arial"));
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), 11.25);
        EXPECT_TRUE(button->font().bold());
        EXPECT_EQ(button->palette().color(QPalette::Button), QColor(Qt::white));
    }

    auto* list = w.find<QTreeWidget>("ListView1");
    EXPECT_EQ(list->geometry(), QRect(8, 76, 520, 185));
    EXPECT_EQ(list->toolTip(),
              QStringLiteral("Move | line to right and out of window to reveal full names."));
    EXPECT_EQ(list->columnCount(), 1);
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("Contacts"));
    EXPECT_EQ(list->columnWidth(0), 467);
    EXPECT_FALSE(list->isSortingEnabled());

    EXPECT_EQ(w.find<QGroupBox>("Frame1")->geometry(), QRect(8, 298, 520, 55));
    EXPECT_EQ(w.find<QGroupBox>("Frame1")->title(), QStringLiteral("Save Results To This Folder"));
    EXPECT_EQ(w.find<QLineEdit>("Text1")->geometry(), QRect(16, 20, 433, 23));
    EXPECT_EQ(w.find<QGroupBox>("Frame2")->geometry(), QRect(8, 434, 456, 81));
    EXPECT_EQ(w.find<QGroupBox>("Frame2")->title(), QStringLiteral("Export Option"));
    EXPECT_EQ(w.find<QRadioButton>("Option1")->geometry(), QRect(16, 20, 105, 15));
    EXPECT_EQ(w.find<QRadioButton>("Option2")->text(), QStringLiteral("Date Range:"));
    EXPECT_EQ(w.find<QDateTimeEdit>("dtpFrom")->geometry(), QRect(120, 43, 105, 25));
    EXPECT_EQ(w.find<QLabel>("Label1")->text(), QStringLiteral("To"));
    EXPECT_EQ(w.find<QDateTimeEdit>("dtpTo")->geometry(), QRect(272, 43, 105, 25));
    EXPECT_EQ(w.find<QLabel>("Label1")->font().pointSizeF(), 9);

    // Below the visible area, yet reachable with Tab in the designed order.
    EXPECT_GE(w.find<QPushButton>("PushButton6")->geometry().top(), form.height());
    EXPECT_GE(w.find<QGroupBox>("Frame2")->geometry().top(), form.height());
    // The one control added since, beside them: "3. Save Checked Chat Histories" saves shared files too.
    EXPECT_GE(w.find<QCheckBox>("Check1")->geometry().top(), form.height());
    EXPECT_EQ(w.find<QCheckBox>("Check1")->text(), QStringLiteral("Save Shared Files"));
    const char* order[] = {"ListView1",   "PushButton2", "PushButton6", "PushButton13", "Text1",
                           "PushButton5", "Option1",     "Option2",     "dtpFrom",      "dtpTo",
                           "PushButton1", "PushButton3", "PushButton4", "PushButton7",  "Check1"};
    QWidget* current = list;
    for (size_t i = 1; i < std::size(order); ++i) {
        QWidget* next = current->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus ||
               next->parentWidget() == w.find<QDateTimeEdit>("dtpFrom") ||
               next->parentWidget() == w.find<QDateTimeEdit>("dtpTo"))
            next = next->nextInFocusChain();
        EXPECT_EQ(next->objectName(), QString::fromLatin1(order[i])) << "after " << order[i - 1];
        current = next;
    }
}

TEST(Form1Layout, ApplicationIconHasFourImages) {
    TestWindow w;
    const QList<QSize> sizes = w.load().windowIcon().availableSizes();
    for (int side : {32, 48, 128, 256})
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
}

TEST(Form1Startup, FirstStartOnAnEmptyStore) {
    TestWindow w;
    Form1& form = w.load();
    EXPECT_TRUE(w.boxes.shown().isEmpty());
    const QString desktop = QStringLiteral("/home/tester/Desktop") + QDir::separator();
    EXPECT_EQ(form.outputFolderText(), desktop);
    EXPECT_EQ(w.settings.get(QStringLiteral("Output Folder")), desktop);
    EXPECT_EQ(w.settings.writes, QStringList{QStringLiteral("Output Folder=") + desktop});
    EXPECT_EQ(form.dateFrom(), today());
    EXPECT_EQ(form.dateTo(), today());
    EXPECT_TRUE(form.isExportAllSelected());
    EXPECT_EQ(form.rowCount(), 0);
    EXPECT_EQ(form.mousePointer(), 0);
    EXPECT_EQ(w.boxes.applicationTitle(), QStringLiteral("Parlorix"));
}

TEST(Form1Startup, RestoresStoredValuesWithoutWritingThemBack) {
    TestWindow w;
    w.settings.set(QStringLiteral("Output Folder"), QStringLiteral("/data/chats/"));
    w.settings.set(QStringLiteral("Date1"), QStringLiteral("8/31/2021 3:42:10 PM"));
    w.settings.set(QStringLiteral("Date2"), QStringLiteral("9/1/2021"));
    Form1& form = w.load();
    EXPECT_EQ(form.outputFolderText(), QStringLiteral("/data/chats/"));
    EXPECT_EQ(form.dateFrom(), QDateTime(QDate(2021, 8, 31), QTime(15, 42, 10)));
    EXPECT_EQ(form.dateTo(), QDateTime(QDate(2021, 9, 1), QTime(0, 0)));
    EXPECT_EQ(w.settings.writes, QStringList{QStringLiteral("Output Folder=/data/chats/")});
    EXPECT_TRUE(w.boxes.shown().isEmpty());
}

TEST(Form1Startup, EmptyStoredOutputFolderIsKept) {
    TestWindow w;
    w.settings.set(QStringLiteral("Output Folder"), QString());
    EXPECT_EQ(w.load().outputFolderText(), QString());
    EXPECT_TRUE(w.settings.writes.isEmpty());
}

TEST(Form1Startup, UnreadableDateIsReportedAndThePickerKeepsItsDesignedValue) {
    TestWindow w;
    w.settings.set(QStringLiteral("Date1"), QStringLiteral("31.08.2021"));
    w.settings.set(QStringLiteral("Date2"), QStringLiteral("9/1/2021"));
    Form1& form = w.load();
    EXPECT_EQ(w.boxes.texts(),
              QStringList{errorReport(QStringLiteral("Type mismatch: \"31.08.2021\" is not a date"),
                                      QStringLiteral("Form_Load"), 134)});
    EXPECT_EQ(form.dateFrom(), designed);
    EXPECT_EQ(form.dateTo(), QDateTime(QDate(2021, 9, 1), QTime(0, 0)));
}

TEST(Form1Startup, DesktopFolderThePlatformCannotGiveIsReportedAndText1StaysEmpty) {
    TestWindow w;
    w.shell.desktop.clear();
    w.settings.set(QStringLiteral("Output Folder"), QStringLiteral("/data/chats/"));
    Form1& form = w.load();
    EXPECT_EQ(w.boxes.texts(), QStringList{errorReport(QStringLiteral("Invalid procedure call or argument"),
                                                       QStringLiteral("Form_Load"), 132)});
    EXPECT_EQ(form.outputFolderText(), QString());
}

TEST(Form1Startup, HomePageOpensOnlyWhenSevenIsDrawn) {
    {
        TestWindow w;
        w.random.next = 0.0601; // 6.01 -> 7
        w.load();
        EXPECT_EQ(w.shell.webPages, QStringList{QStringLiteral("https://parlorix.example/")});
        EXPECT_EQ(w.random.seeds.size(), 1);
        EXPECT_LT(w.random.seeds.first(), 86400u);
    }
    for (double fraction : {0.0, 0.05999, 0.07, 0.99999}) {
        TestWindow w;
        w.random.next = fraction;
        w.load();
        EXPECT_TRUE(w.shell.webPages.isEmpty()) << fraction;
    }
    TestWindow failing;
    failing.random.next = 0.065;
    failing.shell.failWebPages = true;
    failing.load();
    EXPECT_EQ(failing.boxes.texts(),
              QStringList{errorReport(QStringLiteral("No browser"), QStringLiteral("Form_Load"), 108)});
}

TEST(Form1Startup, SkinIsAppliedOnlyWhenTheSkinFileExists) {
    const QColor buttonFace = QApplication::palette().color(QPalette::Active, QPalette::Button);
    {
        TestWindow w;
        Form1& form = w.load();
        EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::white));
        EXPECT_FALSE(w.find<QGroupBox>("Frame1")->autoFillBackground());
        EXPECT_TRUE(form.skin().loadedFile().isEmpty());
        EXPECT_EQ(form.skin().getProperty(1).toInt(), 0);
        EXPECT_FALSE(form.skin().getProperty(5).toBool());
    }
    TestWindow w;
    QDir(w.programFolder()).mkpath(QStringLiteral("x"));
    QFile skin(w.programFolder() + QStringLiteral("/x/o.cjs"));
    ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
    skin.write("QPushButton { font-style: italic; }");
    skin.close();
    Form1& form = w.load();
    EXPECT_TRUE(w.boxes.shown().isEmpty());
    EXPECT_EQ(form.palette().color(QPalette::Window), buttonFace);
    for (const char* name : {"Frame1", "Frame2", "Option1", "Option2", "Label1"}) {
        auto* widget = form.findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_TRUE(widget->autoFillBackground()) << name;
        EXPECT_EQ(widget->palette().color(QPalette::Window), buttonFace) << name;
    }
    for (const char* name : {"Text1", "ListView1", "dtpFrom", "PushButton7"})
        EXPECT_FALSE(form.findChild<QWidget*>(QString::fromLatin1(name))->autoFillBackground() &&
                     form.findChild<QWidget*>(QString::fromLatin1(name))->palette().color(QPalette::Window) ==
                         buttonFace)
            << name;
    EXPECT_EQ(form.skin().loadedFile(),
              QDir::toNativeSeparators(w.programFolder() + QStringLiteral("/x/o.cjs")));
    EXPECT_EQ(form.skin().getProperty(1).toInt() & 1, 1);
    EXPECT_TRUE(form.skin().getProperty(5).toBool());
    EXPECT_TRUE(form.skin().getProperty(10).toBool());
    EXPECT_EQ(form.styleSheet(), QStringLiteral("QPushButton { font-style: italic; }"));
    qApp->setStyleSheet(QString());
}

TEST(Form1Startup, HandPictureIsLoadedWhenPresentAndABrokenOneIsReported) {
    {
        TestWindow w;
        ASSERT_TRUE(QFile::copy(sourceFile("resources/HAND-M.CUR"),
                                w.programFolder() + QStringLiteral("/HAND-M.CUR")));
        EXPECT_TRUE(w.load().hasHandPicture());
        EXPECT_TRUE(w.boxes.shown().isEmpty());
    }
    {
        TestWindow w;
        EXPECT_FALSE(w.load().hasHandPicture());
        EXPECT_TRUE(w.boxes.shown().isEmpty());
    }
    TestWindow w;
    QFile broken(w.programFolder() + QStringLiteral("/HAND-M.CUR"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a cursor");
    broken.close();
    EXPECT_FALSE(w.load().hasHandPicture());
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_TRUE(w.boxes.shown().first().text.contains(QLatin1String("Form_Load at line 106\r\r")));
}

TEST(ApplicationTitle, CutsBeforeTheLastBlankUntilFortyCharacters) {
    EXPECT_EQ(AppInfo::applicationTitleFor(QStringLiteral("Parlorix Suite")), QStringLiteral("Parlorix"));
    const QString forty = QStringLiteral("Parlorix Suite For Chats Kept For Years!");
    ASSERT_EQ(forty.size(), 40);
    EXPECT_EQ(AppInfo::applicationTitleFor(forty), QStringLiteral("Parlorix Suite For Chats Kept For"));
    EXPECT_EQ(AppInfo::applicationTitleFor(
                  QStringLiteral("The Parlorix Suite Of Tools For Every Chat History Ever")),
              QStringLiteral("The Parlorix Suite Of Tools For Every"));
    EXPECT_THROW(AppInfo::applicationTitleFor(QStringLiteral("Parlorix")), Failure);
    EXPECT_THROW(
        AppInfo::applicationTitleFor(QStringLiteral("ThisIsAVeryLongNameWithoutAnyBlankAtAllReally Suite")),
        Failure);
}

} // namespace
