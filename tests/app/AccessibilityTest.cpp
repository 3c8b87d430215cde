#include "fakes/TestWindow.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

// What a screen reader is told of the window comes from Qt's accessible interfaces: the platform
// bridges (AT-SPI, UI Automation) only pass it on, so it is checked here without one.
namespace {

// The control a focus widget belongs to: a date picker's text field stands for the picker.
QWidget* control(QWidget* focused) {
    if (auto* picker = qobject_cast<QAbstractSpinBox*>(focused ? focused->parentWidget() : nullptr))
        return picker;
    return focused;
}

// The controls Tab visits, from the contact list once round the window.
QList<QWidget*> tabOrder(Form1& form, QWidget* first) {
    QList<QWidget*> order{first};
    first->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 50; ++i) {
        QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
        QWidget* next = control(form.focusWidget());
        if (next == first)
            break;
        order.append(next);
    }
    return order;
}

QAccessible::Role fittingRole(const QWidget* widget) {
    if (qobject_cast<const QPushButton*>(widget))
        return QAccessible::Button;
    if (qobject_cast<const QTreeWidget*>(widget))
        return QAccessible::List;
    if (qobject_cast<const QLineEdit*>(widget))
        return QAccessible::EditableText;
    if (qobject_cast<const QRadioButton*>(widget))
        return QAccessible::RadioButton;
    if (qobject_cast<const QDateTimeEdit*>(widget))
        return QAccessible::SpinBox;
    return QAccessible::NoRole;
}

TEST(Accessibility, EveryControlIsReachedByTabAndHasANameAndAFittingRole) {
    TestWindow w;
    Form1& form = w.load();
    form.show();
    auto* list = w.find<QTreeWidget>("ListView1");
    const QList<QWidget*> order = tabOrder(form, list);

    // Every control that takes the keyboard's focus is on the way, once.
    QList<QWidget*> focusable;
    for (QWidget* widget : form.findChildren<QWidget*>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && control(widget) == widget)
            focusable.append(widget);
    }
    EXPECT_EQ(order.size(), focusable.size());
    for (QWidget* widget : focusable)
        EXPECT_EQ(order.count(widget), 1) << widget->objectName().toStdString();

    for (QWidget* widget : order) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(iface, nullptr) << widget->objectName().toStdString();
        EXPECT_FALSE(iface->text(QAccessible::Name).trimmed().isEmpty())
            << widget->objectName().toStdString();
        EXPECT_NE(fittingRole(widget), QAccessible::NoRole)
            << "no role known to fit " << widget->objectName().toStdString();
        EXPECT_EQ(iface->role(), fittingRole(widget)) << widget->objectName().toStdString();
        EXPECT_EQ(iface->parent(), QAccessible::queryAccessibleInterface(widget->parentWidget()))
            << widget->objectName().toStdString();
    }

    // The controls whose caption is not a name, or says nothing on its own.
    const auto name = [&](const char* widget) {
        return QAccessible::queryAccessibleInterface(w.find<QWidget>(widget))->text(QAccessible::Name);
    };
    const auto description = [&](const char* widget) {
        return QAccessible::queryAccessibleInterface(w.find<QWidget>(widget))->text(QAccessible::Description);
    };
    EXPECT_EQ(name("ListView1"), QStringLiteral("Contacts"));
    EXPECT_EQ(name("PushButton5"), QStringLiteral("Choose the output folder"));
    EXPECT_EQ(name("dtpFrom"), QStringLiteral("First date"));
    EXPECT_EQ(name("dtpTo"), QStringLiteral("Last date"));
    EXPECT_EQ(name("Text1"), QStringLiteral("Output folder"));
    // A button is called by its caption, which is what speech control users say.
    EXPECT_EQ(name("PushButton6"), QStringLiteral("Old 3."));
    EXPECT_EQ(name("PushButton2"), QStringLiteral("1. List Contacts In Skype"));
    for (const char* cryptic : {"PushButton6", "PushButton5", "PushButton1", "Option2", "ListView1"})
        EXPECT_FALSE(description(cryptic).isEmpty()) << cryptic;
    // The list's tool tip is about dragging a column edge; its description says what it is for.
    EXPECT_TRUE(description("ListView1").startsWith(QStringLiteral("Tick the contacts")));
}

TEST(Accessibility, TicksAreReadAndSetThroughTheContactsItems) {
    TestWindow w;
    Form1& form = w.load();
    form.show();
    form.appendRow(QStringLiteral("ann"));
    form.appendRow(QStringLiteral("bob"));
    auto* listWidget = w.find<QTreeWidget>("ListView1");
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(listWidget);
    ASSERT_NE(list, nullptr);

    // The column header first, then the rows in their order.
    ASSERT_EQ(list->childCount(), 3);
    EXPECT_EQ(list->child(0)->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), QStringLiteral("Contacts"));
    QAccessibleInterface* bob = list->child(2);
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->text(QAccessible::Name), QStringLiteral("bob"));
    EXPECT_EQ(bob->role(), QAccessible::ListItem);
    EXPECT_EQ(bob->parent(), list);
    EXPECT_EQ(list->indexOfChild(bob), 2);
    EXPECT_EQ(list->child(2), bob);
    EXPECT_TRUE(bob->state().checkable);
    EXPECT_FALSE(bob->state().checked);

    QAccessibleActionInterface* actions = bob->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(form.isRowChecked(2));
    EXPECT_FALSE(form.isRowChecked(1));
    EXPECT_TRUE(bob->state().checked);
    // Ticking is not selecting: the selection stays as it was.
    EXPECT_TRUE(listWidget->selectedItems().isEmpty());
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(form.isRowChecked(2));

    // A tick set by the window, as Check All does, reads back too.
    form.setRowChecked(1, true);
    EXPECT_TRUE(list->child(1)->state().checked);

    // Focus moves to a row through its action, and the list tells which one has it.
    list->child(1)->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    EXPECT_EQ(listWidget->currentItem()->text(0), QStringLiteral("ann"));
    ASSERT_NE(list->focusChild(), nullptr);
    EXPECT_EQ(list->focusChild()->text(QAccessible::Name), QStringLiteral("ann"));
    EXPECT_TRUE(list->child(1)->state().focused);
}

TEST(Accessibility, ARowThatMovesOrGoesAwayIsNotReadAsAnother) {
    TestWindow w;
    Form1& form = w.load();
    auto* listWidget = w.find<QTreeWidget>("ListView1");
    form.appendRow(QStringLiteral("ann"));
    form.appendRow(QStringLiteral("bob"));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(listWidget);
    EXPECT_EQ(list->child(2)->text(QAccessible::Name), QStringLiteral("bob"));

    listWidget->clear();
    EXPECT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(2), nullptr);
    form.appendRow(QStringLiteral("cy"));
    form.appendRow(QStringLiteral("dee"));
    QAccessibleInterface* second = list->child(2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->text(QAccessible::Name), QStringLiteral("dee"));
    EXPECT_EQ(list->indexOfChild(second), 2);
    second->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(form.isRowChecked(2));
    EXPECT_FALSE(form.isRowChecked(1));
}

} // namespace
