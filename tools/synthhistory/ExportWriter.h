#pragma once

#include "SyntheticHistory.h"

#include <QFile>

// Writes a synthetic history as a Skype data export: messages.json, then the export .tar holding it.
class ExportWriter {
public:
    ExportWriter(const QString& jsonPath, const SyntheticHistory& history);
    void add(const SyntheticHistory::Conversation& conversation);
    void finish();

    // Packs messages.json (and a small summary beside it) into an export .tar.
    static void packTar(const QString& jsonPath, const QString& tarPath);

    static QByteArray quoted(const QString& text);

private:
    void write(const QByteArray& bytes);
    void writeMessage(const SyntheticHistory::Message& message, const QString& conversationId,
                      bool serverCopy);

    QFile m_file;
    QByteArray m_buffer;
    QString m_me;
    bool m_first = true;
};
