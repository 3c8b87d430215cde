#include "ConsoleBoxes.h"

#include "Console.h"
#include "ProgressLine.h"

#include "export/SharedFiles.h"
#include "export/TranscriptFiles.h"

#include <QRegularExpression>

ConsoleBoxes::ConsoleBoxes(Console& console, ProgressLine& progress)
    : m_console(console)
    , m_progress(progress) {}

QString ConsoleBoxes::oneLine(const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n]+"));
    return QString(text).replace(breaks, QStringLiteral(" ")).trimmed();
}

void ConsoleBoxes::say(const QString& text) {
    m_progress.clear();
    m_console.err(QStringLiteral("parlorix-cli: ") + text + QLatin1Char('\n'));
}

MessageBoxes::Answer ConsoleBoxes::present(const QString& text, const QString& title, Buttons buttons,
                                           Icon icon, Answer) {
    m_shown.append({text, title, icon});
    if (m_holdingDone && text == QLatin1String("Done.")) {
        m_doneHeld = true;
        return Answer::Ok;
    }
    // The box that lists the transcripts left as they were: its paths are named once more, one a
    // line, when the program ends.
    const QString keptHeader = TranscriptFiles::keptHeading();
    if (text.startsWith(keptHeader)) {
        say(oneLine(keptHeader));
        m_kept += text.mid(keptHeader.size()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    } else if (text.startsWith(SharedFiles::notSavedHeading())) {
        // One line a file: a file's name may be long, and one line of them all would be unreadable.
        say(oneLine(SharedFiles::notSavedHeading()));
        for (const QString& line :
             text.mid(SharedFiles::notSavedHeading().size()).split(QStringLiteral("\r\n")))
            say(QStringLiteral("not saved: ") + oneLine(line));
    } else {
        say(oneLine(text));
    }
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

void ConsoleBoxes::holdDone() {
    m_holdingDone = true;
}

void ConsoleBoxes::releaseDone() {
    m_holdingDone = false;
    if (m_doneHeld)
        say(QStringLiteral("Done."));
    m_doneHeld = false;
}
