#include "AccessGuidance.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/MainView.h"
#include "base/MessageBoxes.h"
#include "base/Services.h"
#include "base/Shell.h"

AccessGuidance::AccessGuidance(const MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

QString AccessGuidance::message(const QString& listButtonCaption) {
    return QLatin1String(
               "For your information: I have Skype Version 5.6.0.110 installed on my computer and "
               "this software works well with it.\r\r"
               "In order to use this software, please make sure that you have Skype open and you are "
               "logged into your account.\r\r"
               "Also, after clicking the '") %
           listButtonCaption %
           QLatin1String(
               "' button, Skype will ask if this software has permission to can access it. You will "
               "have to switch from looking at this software to looking at Skype and click "
               "'Allow'.\r\r"
               "Would you like to see a video showing how this 'Allow' message appears in Skype?");
}

void AccessGuidance::showHelp() {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton13_Click")));
    const bool yes = trap.test(100, [&] {
        const QString text = message(m_view.listButtonCaption());
        return m_services.boxes.show(text, QString(), MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::None,
                                     MessageBoxes::Answer::Yes) == MessageBoxes::Answer::Yes;
    });
    if (yes)
        trap.step(102, [&] { openVideo(); });
}

void AccessGuidance::showVideo() {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton1_Click")));
    trap.step(100, [&] { openVideo(); });
}

void AccessGuidance::openVideo() {
    m_services.shell.openDocument(AppInfo::helpVideoFile(m_services.programFolder));
}
