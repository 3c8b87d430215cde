#include "fakes/TestWindow.h"

#include "base/PointerFeedback.h"

#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

void moveOver(QWidget* widget) {
    const QPointF at(2, 2);
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

TEST(Pointer, HandOverButtonsDefaultOverListFramesAndWindow) {
    TestWindow w;
    Form1& form = w.load();
    for (const char* button : {"PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton5",
                               "PushButton6", "PushButton7", "PushButton13"}) {
        moveOver(w.find<QPushButton>(button));
        EXPECT_EQ(form.mousePointer(), 99) << button;
        moveOver(&form);
        EXPECT_EQ(form.mousePointer(), 0) << button;
    }
    moveOver(w.find<QPushButton>("PushButton2"));
    moveOver(w.find<QTreeWidget>("ListView1")->viewport());
    EXPECT_EQ(form.mousePointer(), 0);
    moveOver(w.find<QPushButton>("PushButton5"));
    moveOver(w.find<QGroupBox>("Frame1"));
    EXPECT_EQ(form.mousePointer(), 0);
    moveOver(w.find<QPushButton>("PushButton6"));
    moveOver(w.find<QGroupBox>("Frame2"));
    EXPECT_EQ(form.mousePointer(), 0);
}

TEST(Pointer, ControlsWithoutAHandlerLeaveThePointerAsItWas) {
    TestWindow w;
    Form1& form = w.load();
    moveOver(w.find<QPushButton>("PushButton5"));
    for (const char* name : {"Text1", "Option1", "Option2", "Label1", "dtpFrom", "dtpTo"})
        moveOver(form.findChild<QWidget*>(QString::fromLatin1(name)));
    EXPECT_EQ(form.mousePointer(), 99);
}

TEST(Pointer, WaitPointerSurvivesHoverAndCoversEveryControl) {
    TestWindow w;
    Form1& form = w.load();
    auto* text = w.find<QLineEdit>("Text1");
    const Qt::CursorShape ownShape = text->cursor().shape();
    form.setMousePointer(11);
    moveOver(w.find<QPushButton>("PushButton7"));
    moveOver(&form);
    EXPECT_EQ(form.mousePointer(), 11);
    EXPECT_EQ(text->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);

    form.setMousePointer(0);
    EXPECT_EQ(text->cursor().shape(), ownShape);
    moveOver(w.find<QPushButton>("PushButton7"));
    EXPECT_EQ(form.mousePointer(), 99);
}

TEST(Pointer, HandValueIsSetEvenWithoutAHandPicture) {
    TestWindow w;
    Form1& form = w.load();
    ASSERT_FALSE(form.hasHandPicture());
    moveOver(w.find<QPushButton>("PushButton1"));
    EXPECT_EQ(form.mousePointer(), 99);
    EXPECT_EQ(form.cursor().shape(), Qt::PointingHandCursor);
}

// The shipped hand points with its finger tip: the hot spot comes from the cursor file itself.
TEST(Pointer, TheHotSpotIsReadFromTheCursorFile) {
    QFile hand(QStringLiteral(PARLORIX_SOURCE_DIR "/resources/HAND-M.CUR"));
    ASSERT_TRUE(hand.open(QIODevice::ReadOnly));
    EXPECT_EQ(Pointer::cursorHotSpot(hand.readAll()), QPoint(5, 0));
    QByteArray made(22, '\0');
    made[10] = 17;
    made[12] = 1;
    made[13] = 1; // 257
    EXPECT_EQ(Pointer::cursorHotSpot(made), QPoint(17, 257));
    EXPECT_EQ(Pointer::cursorHotSpot(QByteArray(13, '\x7F')), QPoint());
}

} // namespace
