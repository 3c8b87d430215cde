#pragma once

#include <QString>

class MainView;
struct Services;

// The guidance for giving the program a Skype history, with the offer of the help video.
class AccessGuidance final {
public:
    AccessGuidance(const MainView& view, Services& services);

    // The Help button; also run by the listing and the exports when Skype is not running.
    void showHelp();
    // "2. Click 'Allow access' In Skype": the help video at once.
    void showVideo();

    static QString message(const QString& listButtonCaption);

private:
    void openVideo();

    const MainView& m_view;
    Services& m_services;
};
