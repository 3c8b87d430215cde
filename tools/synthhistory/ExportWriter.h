#pragma once

#include "MediaObjects.h"
#include "SyntheticHistory.h"

#include <QFile>

#include <vector>

// Writes a synthetic history as a Skype data export: messages.json, then the export .tar holding it.
class ExportWriter {
public:
    ExportWriter(const QString& jsonPath, const SyntheticHistory& history);
    // Shared-media messages name files the export holds in media/ (MediaObject), instead of a plain link.
    void withMedia(quint64 seed);
    void add(const SyntheticHistory::Conversation& conversation);
    void finish();
    // The files the messages written so far share.
    const std::vector<MediaObject>& media() const { return m_media; }

    // Packs messages.json (and a small summary beside it) into an export .tar, then the shared files.
    static void packTar(const QString& jsonPath, const QString& tarPath,
                        const std::vector<MediaObject>& media = {});
    // Writes the shared files into media/ beside an unpacked messages.json.
    static void writeMedia(const QString& jsonPath, const std::vector<MediaObject>& media);

    static QByteArray quoted(const QString& text);

private:
    void write(const QByteArray& bytes);
    void writeMessage(const SyntheticHistory::Message& message, const QString& conversationId,
                      bool serverCopy);

    QFile m_file;
    QByteArray m_buffer;
    QString m_me;
    bool m_first = true;
    bool m_withMedia = false;
    quint64 m_seed = 0;
    std::vector<MediaObject> m_media;
};
