#include "fakes/TestWindow.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
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

// Focus events reach only the active window, and a radio button's focus decides which button of
// its group is the group's Tab stop.
void activate(Form1& form) {
    form.show();
    form.activateWindow();
    QCoreApplication::processEvents();
}

QStringList names(const QList<QWidget*>& widgets) {
    QStringList result;
    for (const QWidget* widget : widgets)
        result.append(widget->objectName());
    return result;
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
    if (qobject_cast<const QCheckBox*>(widget))
        return QAccessible::CheckBox;
    return QAccessible::NoRole;
}

TEST(Accessibility, EveryControlIsReachedFromTheKeyboardAndHasANameAndAFittingRole) {
    TestWindow w;
    Form1& form = w.load();
    activate(form);
    ASSERT_TRUE(form.isActiveWindow());
    auto* list = w.find<QTreeWidget>("ListView1");

    // The window's own order, with the two options as one stop: the selected one.
    const QList<QWidget*> order = tabOrder(form, list);
    const char* expected[] = {"ListView1",   "PushButton2", "PushButton6", "PushButton13", "Text1",
                              "PushButton5", "Option1",     "dtpFrom",     "dtpTo",        "PushButton1",
                              "PushButton3", "PushButton4", "PushButton7", "Check1"};
    QStringList expectedNames;
    for (const char* name : expected)
        expectedNames.append(QString::fromLatin1(name));
    EXPECT_EQ(names(order), expectedNames);
    // The arrow keys go from one option to the other and select it; it is then the group's stop.
    auto* exportAll = w.find<QRadioButton>("Option1");
    auto* dateRange = w.find<QRadioButton>("Option2");
    exportAll->setFocus(Qt::TabFocusReason);
    QTest::keyClick(exportAll, Qt::Key_Down);
    EXPECT_EQ(form.focusWidget(), dateRange);
    EXPECT_TRUE(dateRange->isChecked());
    QTest::keyClick(dateRange, Qt::Key_Tab);
    EXPECT_EQ(control(form.focusWidget()), w.find<QDateTimeEdit>("dtpFrom"));
    QTest::keyClick(form.focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(form.focusWidget(), dateRange);

    // Every control that takes the focus is one of them, named, in a role that fits it.
    QList<QWidget*> focusable;
    for (QWidget* widget : form.findChildren<QWidget*>()) {
        if (widget->focusPolicy() != Qt::NoFocus && widget->isEnabled() && control(widget) == widget)
            focusable.append(widget);
    }
    for (QWidget* widget : focusable) {
        const std::string which = widget->objectName().toStdString();
        EXPECT_TRUE(order.contains(widget) || widget == dateRange) << which << " is never reached";
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(iface, nullptr) << which;
        EXPECT_FALSE(iface->text(QAccessible::Name).trimmed().isEmpty()) << which;
        EXPECT_NE(fittingRole(widget), QAccessible::NoRole) << "no role known to fit " << which;
        EXPECT_EQ(iface->role(), fittingRole(widget)) << which;
        EXPECT_EQ(iface->parent(), QAccessible::queryAccessibleInterface(widget->parentWidget())) << which;
    }
    EXPECT_EQ(focusable.size(), order.size() + 1);

    // The window reads as one, by its title.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral("Parlorix Suite"));

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
    for (const char* cryptic :
         {"PushButton6", "PushButton5", "PushButton1", "Option2", "ListView1", "Check1"})
        EXPECT_FALSE(description(cryptic).isEmpty()) << cryptic;
    // The list's tool tip is about dragging a column edge; its description says what it is for.
    EXPECT_TRUE(description("ListView1").startsWith(QStringLiteral("Tick the contacts")));
}

TEST(Accessibility, TicksAreReadAndSetThroughTheContactsItems) {
    TestWindow w;
    Form1& form = w.load();
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
    EXPECT_EQ(bob->role(), QAccessible::CheckBox);
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

    // Focus moves to a row through its action, and the list tells which one has it: only while the
    // list has the keyboard's focus, as a screen reader would otherwise hear of two focused controls.
    EXPECT_EQ(list->focusChild(), nullptr);
    activate(form);
    ASSERT_TRUE(form.isActiveWindow());
    list->child(1)->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    EXPECT_EQ(listWidget->currentItem()->text(0), QStringLiteral("ann"));
    ASSERT_NE(list->focusChild(), nullptr);
    EXPECT_EQ(list->focusChild()->text(QAccessible::Name), QStringLiteral("ann"));
    EXPECT_TRUE(list->child(1)->state().focused);
    w.find<QPushButton>("PushButton3")->setFocus();
    EXPECT_FALSE(list->child(1)->state().focused);
    EXPECT_EQ(list->focusChild(), nullptr);
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
