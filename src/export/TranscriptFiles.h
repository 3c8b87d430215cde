#pragma once

#include <QStringList>

#include <map>

// The transcripts one run writes. Each is written into a new file beside it and moved over the old
// one only when it is complete, so a run that fails half-way, is killed or meets a full disk leaves
// every contact with its whole old transcript or its whole new one. The move replaces a link in the
// folder instead of writing through it. Files are opened and closed for every write.
class TranscriptFiles final {
public:
    TranscriptFiles() = default;
    // Removes the new files that were not moved into place.
    ~TranscriptFiles();
    TranscriptFiles(const TranscriptFiles&) = delete;
    TranscriptFiles& operator=(const TranscriptFiles&) = delete;

    // The transcript at `path` is written anew: its old content no longer counts.
    void restart(const QString& path);
    // Appends the text to the new transcript, restarting it first if need be. Fails with a
    // description, and the transcript then counts as spoilt.
    void append(const QString& path, const QString& text);
    // Something of this transcript could not be read or written: its old file stays as it is.
    void spoil(const QString& path);
    void spoilAll();

    // Puts the new transcript in place of the old one: moved over it, or, when nothing was written,
    // the old one deleted. A spoilt transcript is left as it was. Fails with a description.
    void commit(const QString& path);
    // The transcripts restarted and not yet committed, spoilt or not.
    QStringList pending() const;
    // The transcripts kept as they were because they were spoilt.
    const QStringList& kept() const { return m_kept; }
    // What the user is told about them.
    QString keptMessage() const;

private:
    struct Pending {
        QString newFile; // empty until the first write
        bool spoilt = false;
    };
    static void discard(Pending& pending);

    std::map<QString, Pending> m_pending;
    QStringList m_kept;
};
