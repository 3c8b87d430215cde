#include "CliHarness.h"

#include "fakes/MemorySettingsStore.h"

#include "base/DateText.h"
#include "cli/CommandLine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

QStringList CliResult::errLines() const {
    return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

CliResult runCli(const QStringList& arguments, const SettingsStore* settings, SkypeConnector* link,
                 bool terminal, FileSystem* files) {
    MemorySettingsStore empty;
    BufferConsole console(terminal);
    CommandLine commandLine(console, settings ? *settings : empty);
    if (link)
        commandLine.useLink(*link);
    if (files)
        commandLine.useFiles(*files);
    const int status = commandLine.run(QStringList{QStringLiteral("parlorix-cli")} + arguments);
    return {status, console.outText, console.errText};
}

QByteArray headerAt(qint64 seconds) {
    return '[' + DateText::toText(QDateTime::fromSecsSinceEpoch(seconds)).toUtf8() + ']';
}

QMap<QString, QByteArray> filesBelow(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        files.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return files;
}
