#include "cli/CommandLine.h"
#include "cli/Console.h"

#include "base/FileSettingsStore.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    StandardConsole console;
    const FileSettingsStore settings(FileSettingsStore::userRoot());
    CommandLine commandLine(console, settings);
    // The arguments as Qt has them: on Windows from the wide command line, so that a path with
    // letters outside the ANSI code page arrives whole.
    return commandLine.run(QCoreApplication::arguments());
}
