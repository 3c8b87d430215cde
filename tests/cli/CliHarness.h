#pragma once

#include "cli/Console.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

class FileSystem;
class SettingsStore;
class SkypeConnector;

// Standard output and error kept in memory; standard error a terminal or not, as the test says.
class BufferConsole final : public Console {
public:
    explicit BufferConsole(bool terminal = false)
        : m_terminal(terminal) {}
    void out(const QString& text) override {
        if (outBroken)
            m_outFailed = true;
        else
            outText += text;
    }
    void err(const QString& text) override { errText += text; }
    bool errIsTerminal() const override { return m_terminal; }
    bool outFailed() const override { return m_outFailed; }
    bool outClosed() const override { return false; }

    QString outText;
    QString errText;
    // Standard output takes nothing, as a full disk or a closed pipe.
    bool outBroken = false;

private:
    bool m_terminal;
    bool m_outFailed = false;
};

struct CliResult {
    int status;
    QString out;
    QString err;
    // Standard error's lines.
    QStringList errLines() const;
};

// parlorix-cli in this process. Without settings, an empty store; without a link, the history the
// arguments or the environment name.
CliResult runCli(const QStringList& arguments, const SettingsStore* settings = nullptr,
                 SkypeConnector* link = nullptr, bool terminal = false, FileSystem* files = nullptr);

// The chat header of a history's chat stamped at these seconds since 1970, in the local time zone:
// the test's TZ, or under Wine, which keeps the host's time zone, that one.
QByteArray headerAt(qint64 seconds);

// Every file below the folder (hidden ones too), by its path relative to it, with its bytes.
QMap<QString, QByteArray> filesBelow(const QString& folder);
