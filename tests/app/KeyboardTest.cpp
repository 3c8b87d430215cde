#include "fakes/TestWindow.h"

#include <QDateTimeEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

// "Old 3." and the date range lie below the window's visible edge: the keyboard is the only way
// there, so it must work as on the desktop the program came from.
namespace {

TEST(Keyboard, EnterPressesAFocusedButtonAsSpaceDoes) {
    TestWindow w;
    Form1& form = w.load();
    form.appendRow(QStringLiteral("ann"));
    form.appendRow(QStringLiteral("bob"));
    QTest::keyClick(w.find<QPushButton>("PushButton3"), Qt::Key_Return);
    EXPECT_TRUE(form.isRowChecked(1));
    EXPECT_TRUE(form.isRowChecked(2));
    QTest::keyClick(w.find<QPushButton>("PushButton4"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(form.isRowChecked(1));
    QTest::keyClick(w.find<QPushButton>("PushButton3"), Qt::Key_Space);
    EXPECT_TRUE(form.isRowChecked(2));
    // With a modifier, Enter is not a press.
    QTest::keyClick(w.find<QPushButton>("PushButton4"), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(form.isRowChecked(2));
}

TEST(Keyboard, EachDatePickerIsOneTabStop) {
    TestWindow w;
    Form1& form = w.load();
    form.show();
    auto* from = w.find<QDateTimeEdit>("dtpFrom");
    auto* to = w.find<QDateTimeEdit>("dtpTo");
    const QDateTime before = from->dateTime();

    w.find<QPushButton>("PushButton5")->setFocus();
    QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(form.focusWidget(), w.find<QRadioButton>("Option1"));
    from->setFocus();
    QTest::keyClick(from, Qt::Key_Tab);
    EXPECT_EQ(form.focusWidget(), to);
    QTest::keyClick(to, Qt::Key_Tab);
    EXPECT_EQ(form.focusWidget(), w.find<QPushButton>("PushButton1"));
    to->setFocus();
    QTest::keyClick(to, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(form.focusWidget(), from);
    QTest::keyClick(from, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(form.focusWidget(), w.find<QRadioButton>("Option2"));
    EXPECT_EQ(from->dateTime(), before);
}

} // namespace
