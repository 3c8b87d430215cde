#include "base/DateText.h"

#include "fakes/ScopedEnv.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QDateTime afternoon(QDate(2021, 8, 31), QTime(15, 42, 10));
const QDateTime midnight(QDate(2021, 8, 31), QTime(0, 0));

TEST(DateText, EnglishUnitedStatesWritesFourDigitYearsAndDropsMidnight) {
    ScopedEnv env("LANG", "en_US.UTF-8");
    EXPECT_EQ(DateText::toText(afternoon), QStringLiteral("8/31/2021 3:42:10 PM"));
    EXPECT_EQ(DateText::toText(midnight), QStringLiteral("8/31/2021"));
    EXPECT_EQ(DateText::toText(QDateTime(QDate(2021, 8, 31), QTime(0, 0, 1))),
              QStringLiteral("8/31/2021 12:00:01 AM"));
    EXPECT_EQ(DateText::toText(QDateTime(QDate(1601, 1, 1), QTime(9, 5, 0))),
              QStringLiteral("1/1/1601 9:05:00 AM"));
}

TEST(DateText, ZeroDateShowsOnlyTheTime) {
    ScopedEnv env("LANG", "en_US.UTF-8");
    EXPECT_EQ(DateText::toText(QDateTime(DateText::zeroDate(), QTime(10, 0))), QStringLiteral("10:00:00 AM"));
    EXPECT_EQ(DateText::toText(QDateTime(DateText::zeroDate(), QTime(0, 0))), QStringLiteral("12:00:00 AM"));
}

TEST(DateText, LocaleComesFromLcAllThenLcTimeThenLang) {
    ScopedEnv env;
    env.set("LANG", "en_US.UTF-8").set("LC_TIME", "de_DE.UTF-8").set("LC_ALL", QByteArray());
    EXPECT_EQ(DateText::toText(afternoon), QStringLiteral("31.08.2021 15:42:10"));
    env.set("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(DateText::toText(afternoon), QStringLiteral("31/08/2021 15:42:10"));
    env.set("LC_ALL", "C");
    EXPECT_EQ(DateText::toText(afternoon), QStringLiteral("8/31/2021 3:42:10 PM"));
    env.set("LC_ALL", "POSIX");
    EXPECT_EQ(DateText::toText(midnight), QStringLiteral("8/31/2021"));
}

TEST(DateText, ReadsBackWhatItWritesAndNothingElse) {
    for (const char* locale : {"en_US.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", "C"}) {
        ScopedEnv env("LANG", locale);
        for (const QDateTime& value :
             {afternoon, midnight, QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59))}) {
            const std::optional<QDateTime> back = DateText::fromText(DateText::toText(value));
            ASSERT_TRUE(back.has_value()) << locale << " " << DateText::toText(value).toStdString();
            EXPECT_EQ(*back, value) << locale;
        }
    }
    ScopedEnv env("LANG", "en_US.UTF-8");
    EXPECT_FALSE(DateText::fromText(QStringLiteral("31.08.2021")).has_value());
    EXPECT_FALSE(DateText::fromText(QStringLiteral("yesterday")).has_value());
    EXPECT_FALSE(DateText::fromText(QString()).has_value());
    EXPECT_FALSE(DateText::fromText(QStringLiteral("8/31/2021 3:42:10 PM trailing")).has_value());
}

// The time zone is left out of a transcript's time, and so is what stood around it alone: brackets,
// a comma, blanks. Every locale Qt knows is checked, which holds every locale a machine can name
// (the names in LANG are looked up in Qt's own data, installed or not).
TEST(DateText, NoLocaleKeepsARemnantOfTheTimeZone) {
    const QRegularExpression remnant(QStringLiteral("\\(\\s*\\)|\\[\\s*\\]|^[\\s,،]|[\\s,،]$|\\s\\s"));
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_GT(locales.size(), 100);
    for (const QLocale& locale : locales) {
        const QString time = DateText::toText(QDateTime(DateText::zeroDate(), QTime(15, 42, 10)), locale);
        EXPECT_FALSE(remnant.match(time).hasMatch())
            << locale.name().toStdString() << ": " << time.toStdString();
    }
    EXPECT_EQ(DateText::toText(afternoon, QLocale(QStringLiteral("fa_IR"))).right(8),
              QLocale(QStringLiteral("fa_IR")).toString(QTime(15, 42, 10), QStringLiteral("HH:mm:ss")));
}

#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
// There the regional settings come from the system when no POSIX variable names a locale.
TEST(DateText, WithoutLocaleVariablesTheSystemsRegionalSettingsCount) {
    ScopedEnv env;
    env.set("LC_ALL", QByteArray()).set("LC_TIME", QByteArray()).set("LANG", QByteArray());
    const QLocale system = QLocale::system();
    const QLocale expected =
        system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system;
    EXPECT_EQ(DateText::userLocale().name(), expected.name());
}
#endif

} // namespace
