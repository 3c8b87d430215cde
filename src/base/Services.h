#pragma once

#include <QString>

class FileSystem;
class FolderBrowser;
class MessageBoxes;
class RandomSource;
class SettingsStore;
class Shell;
class SkypeConnector;

// What the handlers talk to besides the window. Tests hand in recording fakes.
struct Services {
    MessageBoxes& boxes;
    Shell& shell;
    SettingsStore& settings;
    FolderBrowser& browser;
    SkypeConnector& skype;
    RandomSource& random;
    // Where the exports put their transcripts.
    FileSystem& files;
    // The folder of the executable, without a trailing separator.
    QString programFolder;
};
