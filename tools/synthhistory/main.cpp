// Writes a synthetic Skype history, the same for the same seed, as a classic main.db and as a
// Skype data export (.tar holding messages.json).
//   parlorix-synth [--seed N] [--contacts N] [--groups N] [--messages N] [--no-index] [--grouped]
//                  [--media] [--slices N] [--db main.db] [--tar export.tar] [--json messages.json]
// The database's messages lie in order of arrival, as a client writes them; --grouped lays them
// out conversation by conversation instead. --media makes an export with files: each shared-media
// message names a file of its own that the .tar holds in media/ (and the folder beside --json), most
// small, some of tens of megabytes, a few missing as Skype leaves them out. With --slices N the
// history is cut in N pieces of time, each written in every form asked for (main.1.db, main.2.db,
// ...), as the computers a client ran on one after the other hold it: each piece reaches a month into
// the next, a piece's main.db lists every conversation and contact, and its clock runs a minute behind
// the next piece's (the last's is right, as an export's always is), so that the pieces read as one
// give the whole history's transcripts.

#include "DatabaseWriter.h"
#include "ExportWriter.h"
#include "SliceWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

int usage() {
    std::fputs(
        "usage: parlorix-synth [--seed N] [--contacts N] [--groups N] [--messages N] [--no-index] "
        "[--grouped] [--media]\n"
        "                      [--slices N] [--db main.db] [--tar export.tar] [--json messages.json]\n",
        stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    SyntheticHistory::Options options;
    QString db, tar, json;
    bool index = true;
    int slices = 0;
    bool media = false;
    DatabaseWriter::Layout layout = DatabaseWriter::Layout::Arrival;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& flag = args.at(i);
        if (flag == QLatin1String("--no-index")) {
            index = false;
            continue;
        }
        if (flag == QLatin1String("--media")) {
            media = true;
            continue;
        }
        if (flag == QLatin1String("--grouped")) {
            layout = DatabaseWriter::Layout::Grouped;
            continue;
        }
        if (i + 1 >= args.size())
            return usage();
        const QString value = args.at(++i);
        bool ok = true;
        if (flag == QLatin1String("--seed"))
            options.seed = value.toULongLong(&ok);
        else if (flag == QLatin1String("--contacts"))
            options.contacts = value.toInt(&ok);
        else if (flag == QLatin1String("--groups"))
            options.groups = value.toInt(&ok);
        else if (flag == QLatin1String("--messages"))
            options.messages = value.toLongLong(&ok);
        else if (flag == QLatin1String("--slices"))
            slices = value.toInt(&ok);
        else if (flag == QLatin1String("--db"))
            db = value;
        else if (flag == QLatin1String("--tar"))
            tar = value;
        else if (flag == QLatin1String("--json"))
            json = value;
        else
            return usage();
        if (!ok || options.contacts < 0 || options.groups < 0 || options.messages < 0 || slices < 0 ||
            slices > 100)
            return usage();
    }
    // Slices carry no files: a piece's export would name files another piece holds.
    if ((db.isEmpty() && tar.isEmpty() && json.isEmpty()) || (media && slices > 0))
        return usage();

    try {
        SyntheticHistory history(options);
        QTemporaryDir scratch;
        if (slices > 0) {
            SliceWriter writer(history, SliceWriter::pieces(slices, db, json, tar, scratch.path()), index,
                               layout);
            for (int i = 0; i < history.conversationCount(); ++i)
                writer.add(history.conversation(i));
            writer.finish();
            return 0;
        }
        const QString jsonPath = !json.isEmpty() ? json : scratch.filePath(QStringLiteral("messages.json"));
        std::unique_ptr<DatabaseWriter> database;
        if (!db.isEmpty())
            database = std::make_unique<DatabaseWriter>(db, history, index, layout);
        std::unique_ptr<ExportWriter> exporter;
        if (!tar.isEmpty() || !json.isEmpty())
            exporter = std::make_unique<ExportWriter>(jsonPath, history);
        if (exporter && media)
            exporter->withMedia(options.seed);
        for (int i = 0; i < history.conversationCount(); ++i) {
            const SyntheticHistory::Conversation conversation = history.conversation(i);
            if (database)
                database->add(conversation);
            if (exporter)
                exporter->add(conversation);
        }
        if (database)
            database->finish();
        if (exporter) {
            exporter->finish();
            if (!tar.isEmpty())
                ExportWriter::packTar(jsonPath, tar, exporter->media());
            if (!json.isEmpty())
                ExportWriter::writeMedia(jsonPath, exporter->media());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "parlorix-synth: %s\n", error.what());
        return 1;
    }
    return 0;
}
