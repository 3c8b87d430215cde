#pragma once

#include "DatabaseWriter.h"
#include "ExportWriter.h"

#include <memory>
#include <vector>

// Writes pieces of a synthetic history as the computers a client ran on, one after the other, and the
// exports hold them. A piece's main.db lists every conversation and contact of the history, with the
// messages of its times; an export holds the conversations of its messages (one without any lies in
// the first piece). The creation times of conversations stay the whole history's.
class SliceWriter {
public:
    struct Piece {
        SyntheticHistory::Slice slice;
        // Seconds the client's clock runs ahead (behind, when negative); an export has the server's.
        qint64 clock = 0;
        // The files written, where named; an export .tar is packed from its messages.json.
        QString database;
        QString json;
        QString tar;
    };

    SliceWriter(const SyntheticHistory& history, std::vector<Piece> pieces, bool index = true,
                DatabaseWriter::Layout layout = DatabaseWriter::Layout::Arrival);
    void add(const SyntheticHistory::Conversation& conversation);
    void finish();

    // `count` pieces of the history with a month's overlap, the clock of each main.db a minute behind
    // the next's and the last one's right; the files named as given with the piece's number before
    // the extension (main.db gives main.1.db, main.2.db, ...). `scratch`: a folder for the
    // messages.json a .tar is packed from, where none is named.
    static std::vector<Piece> pieces(int count, const QString& database, const QString& json,
                                     const QString& tar, const QString& scratch);

private:
    struct Writers {
        Piece piece;
        std::unique_ptr<DatabaseWriter> database;
        std::unique_ptr<ExportWriter> exporter;
    };
    std::vector<Writers> m_writers;
};
