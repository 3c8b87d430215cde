#pragma once

#include <QString>

// Standard output and standard error of the command line, as text.
class Console {
public:
    virtual ~Console() = default;
    virtual void out(const QString& text) = 0;
    virtual void err(const QString& text) = 0;
    // Whether standard error is a terminal, where a progress line can update in place.
    virtual bool errIsTerminal() const = 0;
    // Whether some of standard output was lost (a full disk, a closed pipe): a script must not take
    // a list cut short for the whole one.
    virtual bool outFailed() const = 0;
    // Whether the reader of standard output went away (`| head -1`): the run ends quietly then.
    virtual bool outClosed() const = 0;
};

// The process's own standard output and error: UTF-8, and on a Windows console its wide text, so
// that every letter reads right whatever the console's code page.
class StandardConsole final : public Console {
public:
    StandardConsole();
    void out(const QString& text) override;
    void err(const QString& text) override;
    bool errIsTerminal() const override { return m_errIsTerminal; }
    bool outFailed() const override { return m_outFailed; }
    bool outClosed() const override { return m_outClosed; }

private:
    bool m_errIsTerminal;
    bool m_outFailed = false;
    bool m_outClosed = false;
};
