#pragma once

#include <QString>

class MainView;
struct Services;

// The output folder: the browse button and the storing of the folder text.
class OutputFolder final {
public:
    OutputFolder(MainView& view, Services& services);

    // The "..." button: picks a folder, remembers it, and shows it with a trailing separator.
    void browse();
    // Every change of the folder text is stored at once, whatever made it.
    void storeText();

    static QString withTrailingSeparator(const QString& folder);

private:
    MainView& m_view;
    Services& m_services;
    // The folder last picked, re-read from the settings at each press.
    QString m_lastFolder;
};
