#include "cli/CommandLine.h"
#include "cli/Console.h"

#include "base/ErrorTrap.h"
#include "base/FileSettingsStore.h"
#include "maindb/HistoryCopy.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[]) {
#ifndef Q_OS_WIN
    // A reader that goes away (`parlorix-cli contacts | head -1`) fails the write instead of killing
    // the process, so that the run ends with its own status and lets go of its locks.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    try {
        // Private copies of histories that a killed run left behind.
        HistoryCopy::removeLeftovers();
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
    } catch (...) {
        // Nothing leaves main: a run that cannot go on says why and ends like any failed run.
        const QByteArray reason = ErrorTrap::describe(std::current_exception()).toUtf8();
        std::fprintf(stderr, "parlorix-cli: %s\n", reason.constData());
        return CommandLine::Failed;
    }
}
