#include "SliceWriter.h"

#include <QFileInfo>

namespace {

// The piece's number before the name's last extension.
QString numbered(const QString& path, int number) {
    if (path.isEmpty())
        return path;
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.isEmpty())
        return path + QLatin1Char('.') + QString::number(number);
    return path.left(path.size() - suffix.size()) + QString::number(number) + QLatin1Char('.') + suffix;
}

} // namespace

SliceWriter::SliceWriter(const SyntheticHistory& history, std::vector<Piece> pieces, bool index,
                         DatabaseWriter::Layout layout) {
    for (Piece& piece : pieces) {
        Writers writers;
        if (!piece.database.isEmpty())
            writers.database = std::make_unique<DatabaseWriter>(piece.database, history, index, layout);
        if (!piece.json.isEmpty())
            writers.exporter = std::make_unique<ExportWriter>(piece.json, history);
        writers.piece = std::move(piece);
        m_writers.push_back(std::move(writers));
    }
}

void SliceWriter::add(const SyntheticHistory::Conversation& conversation) {
    for (size_t at = 0; at < m_writers.size(); ++at) {
        Writers& writers = m_writers[at];
        if (writers.database)
            writers.database->add(
                SyntheticHistory::cut(conversation, writers.piece.slice, writers.piece.clock));
        if (!writers.exporter)
            continue;
        const SyntheticHistory::Conversation piece =
            SyntheticHistory::cut(conversation, writers.piece.slice, 0);
        if (!piece.messages.empty() || (conversation.messages.empty() && at == 0))
            writers.exporter->add(piece);
    }
}

void SliceWriter::finish() {
    for (Writers& writers : m_writers) {
        if (writers.database)
            writers.database->finish();
        if (!writers.exporter)
            continue;
        writers.exporter->finish();
        if (!writers.piece.tar.isEmpty())
            ExportWriter::packTar(writers.piece.json, writers.piece.tar);
    }
}

std::vector<SliceWriter::Piece> SliceWriter::pieces(int count, const QString& database, const QString& json,
                                                    const QString& tar, const QString& scratch) {
    const std::vector<SyntheticHistory::Slice> slices =
        SyntheticHistory::slices(count, SyntheticHistory::kSliceOverlap);
    std::vector<Piece> pieces;
    for (int number = 1; number <= count; ++number) {
        Piece piece;
        piece.slice = slices[static_cast<size_t>(number - 1)];
        piece.clock = -60 * static_cast<qint64>(count - number);
        piece.database = numbered(database, number);
        piece.json = numbered(json, number);
        if (!tar.isEmpty()) {
            piece.tar = numbered(tar, number);
            if (piece.json.isEmpty())
                piece.json = scratch + QStringLiteral("/messages.%1.json").arg(number);
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}
