#include "cli/CommandLine.h"
#include "cli/Console.h"

#include "base/FileSettingsStore.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    StandardConsole console;
#ifndef Q_OS_WIN
    if (const std::optional<QString> argument = CommandLine::notUtf8Argument(argc, argv)) {
        console.err(QStringLiteral("parlorix-cli: '%1' is not UTF-8 text: the file or folder it names "
                                   "cannot be told apart from others; give a name in UTF-8\n")
                        .arg(*argument));
        return CommandLine::Failed;
    }
#endif
    const FileSettingsStore settings(FileSettingsStore::userRoot());
    CommandLine commandLine(console, settings);
    // The arguments as Qt has them: on Windows from the wide command line, so that a path with
    // letters outside the ANSI code page arrives whole.
    return commandLine.run(QCoreApplication::arguments());
}
