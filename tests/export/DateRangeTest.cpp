#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include <QDateTimeEdit>

#include <gtest/gtest.h>

namespace {

const QDateTime kNoon(QDate(2021, 8, 31), QTime(12, 0));

class DateRange : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("LANG", "en_US.UTF-8");
        w.settings.set(QStringLiteral("Output Folder"), QStringLiteral("/out/"));
        w.settings.set(QStringLiteral("Date1"), QStringLiteral("8/1/2021"));
        w.settings.set(QStringLiteral("Date2"), QStringLiteral("8/31/2021 12:00:00 PM"));
        w.load();
        startUpWrites = w.settings.writes;
        w.settings.writes.clear();
        from = w.find<QDateTimeEdit>("dtpFrom");
        to = w.find<QDateTimeEdit>("dtpTo");
    }

    ScopedEnv env;
    TestWindow w;
    QDateTimeEdit* from = nullptr;
    QDateTimeEdit* to = nullptr;
    QStringList startUpWrites;
};

TEST_F(DateRange, StartUpRestoresWithoutStoring) {
    EXPECT_EQ(from->dateTime(), QDateTime(QDate(2021, 8, 1), QTime(0, 0)));
    EXPECT_EQ(to->dateTime(), kNoon);
    EXPECT_EQ(startUpWrites, QStringList{QStringLiteral("Output Folder=/out/")});
}

TEST_F(DateRange, AChangeThatKeepsTheOrderStoresOnlyThatPicker) {
    from->setDateTime(QDateTime(QDate(2021, 8, 2), QTime(9, 5, 1)));
    EXPECT_EQ(w.settings.writes, QStringList{QStringLiteral("Date1=8/2/2021 9:05:01 AM")});
    w.settings.writes.clear();
    to->setDateTime(QDateTime(QDate(2021, 9, 1), QTime(0, 0)));
    EXPECT_EQ(w.settings.writes, QStringList{QStringLiteral("Date2=9/1/2021")});
    EXPECT_EQ(from->dateTime(), QDateTime(QDate(2021, 8, 2), QTime(9, 5, 1)));
}

TEST_F(DateRange, AStartAfterTheEndMovesTheEndAndBothAreStored) {
    from->setDateTime(kNoon.addSecs(60));
    EXPECT_EQ(to->dateTime(), kNoon.addSecs(60));
    EXPECT_EQ(w.settings.get(QStringLiteral("Date1")), QStringLiteral("8/31/2021 12:01:00 PM"));
    EXPECT_EQ(w.settings.get(QStringLiteral("Date2")), QStringLiteral("8/31/2021 12:01:00 PM"));
}

TEST_F(DateRange, AnEndBeforeTheStartMovesTheStartOnTheSameDayByTime) {
    to->setDateTime(QDateTime(QDate(2021, 8, 1), QTime(0, 0)));
    EXPECT_EQ(from->dateTime(), QDateTime(QDate(2021, 8, 1), QTime(0, 0)));
    w.settings.writes.clear();
    from->setDateTime(QDateTime(QDate(2021, 8, 1), QTime(8, 0)));
    EXPECT_EQ(to->dateTime(), QDateTime(QDate(2021, 8, 1), QTime(8, 0)));
    to->setDateTime(QDateTime(QDate(2021, 8, 1), QTime(7, 59, 59)));
    EXPECT_EQ(from->dateTime(), QDateTime(QDate(2021, 8, 1), QTime(7, 59, 59)));
    EXPECT_EQ(w.settings.get(QStringLiteral("Date1")), QStringLiteral("8/1/2021 7:59:59 AM"));
    EXPECT_EQ(w.settings.get(QStringLiteral("Date2")), QStringLiteral("8/1/2021 7:59:59 AM"));
}

TEST_F(DateRange, AStoreThatFailsIsToldOnceAndDoesNotEndTheProgram) {
    w.settings.failWrites = true;
    from->setDateTime(kNoon.addDays(1));
    from->setDateTime(kNoon.addDays(2));
    EXPECT_EQ(to->dateTime(), kNoon.addDays(2));
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_TRUE(w.boxes.texts().first().startsWith(QLatin1String("Your settings cannot be saved")));
}

} // namespace
