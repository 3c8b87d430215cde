#include "fakes/TestWindow.h"

#include "skype/AccessGuidance.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

const QString kGuidance = QStringLiteral(
    "For your information: I have Skype Version 5.6.0.110 installed on my computer and this software works "
    "well "
    "with it.\r\rIn order to use this software, please make sure that you have Skype open and you are logged "
    "into "
    "your account.\r\rAlso, after clicking the '1. List Contacts In Skype' button, Skype will ask if this "
    "software "
    "has permission to can access it. You will have to switch from looking at this software to looking at "
    "Skype "
    "and click 'Allow'.\r\rWould you like to see a video showing how this 'Allow' message appears in Skype?");

TEST(AccessGuidance, HelpAsksAndYesOpensTheVideo) {
    TestWindow w;
    w.load();
    w.boxes.answer(MessageBoxes::Answer::Yes);
    w.click("PushButton13");

    ASSERT_EQ(w.boxes.shown().size(), 1);
    const auto& box = w.boxes.shown().first();
    EXPECT_EQ(box.text, kGuidance);
    EXPECT_EQ(box.title, QStringLiteral("Parlorix"));
    EXPECT_EQ(box.buttons, MessageBoxes::Buttons::YesNo);
    EXPECT_EQ(box.icon, MessageBoxes::Icon::None);
    EXPECT_EQ(box.defaultButton, MessageBoxes::Answer::Yes);
    EXPECT_EQ(w.shell.documents, QStringList{QDir::toNativeSeparators(
                                     w.programFolder() + QStringLiteral("/Help Video/Skype Allow.avi"))});
}

TEST(AccessGuidance, NoClosesTheMessageAndNothingElse) {
    TestWindow w;
    w.load();
    w.boxes.answer(MessageBoxes::Answer::No);
    w.click("PushButton13");
    EXPECT_EQ(w.boxes.shown().size(), 1);
    EXPECT_TRUE(w.shell.documents.isEmpty());
}

TEST(AccessGuidance, AllowAccessButtonOpensTheVideoWithoutAsking) {
    TestWindow w;
    w.load();
    w.click("PushButton1");
    EXPECT_TRUE(w.boxes.shown().isEmpty());
    EXPECT_EQ(w.shell.documents, QStringList{QDir::toNativeSeparators(
                                     w.programFolder() + QStringLiteral("/Help Video/Skype Allow.avi"))});
}

TEST(AccessGuidance, MessageTakesTheListButtonCaption) {
    EXPECT_TRUE(AccessGuidance::message(QStringLiteral("List"))
                    .contains(QLatin1String("after clicking the 'List' button")));
}

} // namespace
