#include "base/ErrorTrap.h"
#include "base/Failure.h"

#include "fakes/FakeMessageBoxes.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const QString kLocation = QStringLiteral("in Dovecall2021/08/31.Form1.PushButton7_Click ");

TEST(ErrorTrap, ReportHasTheExactTextTitleIconAndButton) {
    FakeMessageBoxes boxes;
    boxes.setApplicationTitle(QStringLiteral("Parlorix"));
    ErrorTrap trap(boxes, kLocation);
    EXPECT_FALSE(trap.step(134, [] { throw Failure(QStringLiteral("Permission denied")); }));

    ASSERT_EQ(boxes.shown().size(), 1);
    const auto& box = boxes.shown().first();
    EXPECT_EQ(box.text.toUtf8(),
              QByteArray("Permission denied\r\n"
                         "in Dovecall2021/08/31.Form1.PushButton7_Click at line 134\r\r"
                         "Please email screenshot of this message to support@parlorix.example"));
    EXPECT_EQ(box.title, QStringLiteral("Application Error"));
    EXPECT_EQ(box.icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(box.buttons, MessageBoxes::Buttons::Ok);
}

TEST(ErrorTrap, EmptyDescriptionStartsWithTheLineBreak) {
    FakeMessageBoxes boxes;
    ErrorTrap trap(boxes, kLocation);
    trap.step(100, [] { throw Failure(QString()); });
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(boxes.shown().first().text.startsWith(QLatin1String("\r\nin Dovecall")));
}

TEST(ErrorTrap, GoesOnAfterEachFailureAndReportsEveryOne) {
    FakeMessageBoxes boxes;
    ErrorTrap trap(boxes, kLocation);
    QStringList ran;
    trap.step(100, [] { throw std::runtime_error("first"); });
    trap.step(102, [&] { ran << QStringLiteral("102"); });
    trap.step(104, [] { throw Failure(QStringLiteral("second")); });
    trap.step(106, [&] { ran << QStringLiteral("106"); });

    EXPECT_EQ(ran, (QStringList{QStringLiteral("102"), QStringLiteral("106")}));
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_TRUE(boxes.shown().at(0).text.startsWith(QLatin1String("first\r\n")));
    EXPECT_TRUE(boxes.shown().at(0).text.contains(QLatin1String("at line 100\r\r")));
    EXPECT_TRUE(boxes.shown().at(1).text.startsWith(QLatin1String("second\r\n")));
    EXPECT_TRUE(boxes.shown().at(1).text.contains(QLatin1String("at line 104\r\r")));
}

TEST(ErrorTrap, FailedTestRunsItsBlockAndFailedLoopHeadRunsTheBodyAtMostOnce) {
    FakeMessageBoxes boxes;
    ErrorTrap trap(boxes, kLocation);
    EXPECT_TRUE(trap.test(110, []() -> bool { throw Failure(QStringLiteral("x")); }));
    EXPECT_FALSE(trap.test(110, [] { return false; }));
    EXPECT_EQ(trap.count(118, []() -> int { throw Failure(QStringLiteral("x")); }), 1);
    EXPECT_EQ(trap.count(100, []() -> int { throw Failure(QStringLiteral("x")); }, 0), 0);
    EXPECT_EQ(trap.count(118, [] { return 7; }), 7);
    EXPECT_EQ(boxes.shown().size(), 3);
    EXPECT_EQ(trap.failures(), 3);
}

// A failure of an earlier step that becomes known later (a transcript put in place in the
// background) is shown before the failure at hand and leaves the counts of the steps under way alone. Once it
// ended the run, the failures of work the run would not have done are neither shown nor counted.
TEST(ErrorTrap, AnEarlierStepsFailureKnownLateComesFirst) {
    FakeMessageBoxes boxes;
    ErrorTrap trap(boxes, kLocation);
    bool ended = false;
    QList<int> late{150};
    trap.settleFirst([&] {
        for (const int line : late)
            trap.reportLate(line, std::make_exception_ptr(Failure(QStringLiteral("late"))), true);
        late.clear();
        return !ended;
    });
    trap.limitBoxes(0);
    trap.step(142, [] { throw Failure(QStringLiteral("now")); });
    EXPECT_EQ(trap.failures(), 1);
    EXPECT_EQ(trap.shown(), 0);
    trap.limitBoxes(-1);
    late = {152};
    ended = true;
    trap.step(144, [] { throw Failure(QStringLiteral("after the end")); });
    EXPECT_EQ(trap.failures(), 1);
    trap.settleFirst(nullptr);
    trap.step(146, [] { throw Failure(QStringLiteral("at once")); });
    ASSERT_EQ(boxes.shown().size(), 3);
    EXPECT_TRUE(boxes.shown().at(0).text.startsWith(QLatin1String("late\r\n")));
    EXPECT_TRUE(boxes.shown().at(0).text.contains(QLatin1String("at line 150\r\r")));
    EXPECT_TRUE(boxes.shown().at(1).text.contains(QLatin1String("at line 152\r\r")));
    EXPECT_TRUE(boxes.shown().at(2).text.startsWith(QLatin1String("at once\r\n")));
    EXPECT_EQ(trap.failures(), 2);
}

} // namespace

// A failure known late is shown when its own step could have shown it, or when it ends the run; a box
// it shows is one fewer for the steps under way.
TEST(ErrorTrap, AFailureKnownLateIsShownWithinItsOwnLimitAndTakesABoxFromTheStepsUnderWay) {
    const struct {
        const char* what;
        bool withinLimit;
        bool endsRun;
        bool shown;
        int boxesAfter; // of three failures of the steps under way, limited to two boxes
    } rows[] = {
        {"within its limit", true, false, true, 1},
        {"past its limit", false, false, false, 2},
        {"past its limit, ending the run", false, true, true, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FakeMessageBoxes boxes;
        ErrorTrap trap(boxes, kLocation);
        trap.limitBoxes(2);
        const Failure late = row.endsRun ? Failure::endingRun(QStringLiteral("late"), QStringLiteral("gone"))
                                         : Failure(QStringLiteral("late"));
        EXPECT_EQ(trap.reportLate(150, std::make_exception_ptr(late), row.withinLimit), row.shown);
        EXPECT_EQ(boxes.shown().size(), row.shown ? 1 : 0);
        EXPECT_EQ(trap.failures(), 0);
        EXPECT_EQ(trap.shown(), 0);
        for (int i = 0; i < 3; ++i)
            trap.step(142, [] { throw Failure(QStringLiteral("now")); });
        EXPECT_EQ(trap.shown(), row.boxesAfter);
        EXPECT_EQ(boxes.shown().size(), (row.shown ? 1 : 0) + row.boxesAfter);
        EXPECT_EQ(trap.failures(), 3);
    }
}
