#pragma once

#include <QStringList>

#include <optional>

class Console;
class SettingsStore;
class SkypeConnector;

// parlorix-cli: the window's handlers run from the command line, behind a view and services that
// write to the console. Each command returns the exit status.
class FileSystem;

class CommandLine final {
public:
    enum Status { AllWritten = 0, SomeKept = 1, NothingFound = 1, Failed = 2 };

    // `userSettings`: where the window keeps its settings; read, never written.
    CommandLine(Console& console, const SettingsStore& userSettings);
    // The link to read instead of the user's Skype history.
    void useLink(SkypeConnector& link) { m_link = &link; }
    // The file system to write the transcripts through instead of the machine's.
    void useFiles(FileSystem& files) { m_files = &files; }

    // `arguments` as the program got them, its own name first.
    int run(const QStringList& arguments);

    static QString usage();
    // A handle as 'contacts' prints it, one line whatever it holds: a backslash, a line feed, a
    // carriage return and a NUL are written as \\, \n, \r and \0; other control characters (but
    // the tab) and Unicode's line breaks as \uXXXX, in hexadecimal.
    static QString escapedHandle(const QString& handle);
    // A handle written as 'contacts' prints it, with the digits of its \uXXXX in lower case, as
    // escapedHandle writes them: \u007F and \u007f name one handle.
    static QString lowerCaseEscapes(const QString& text);
    static QString version();
    // The first of the process's arguments that is not UTF-8: Qt reads such an argument with
    // replacement characters, so that it would name another file than the one given.
    static std::optional<QString> notUtf8Argument(int argc, const char* const* argv);

private:
    int runCommand(const QStringList& arguments);

    Console& m_console;
    const SettingsStore& m_userSettings;
    SkypeConnector* m_link = nullptr;
    FileSystem* m_files = nullptr;
};
