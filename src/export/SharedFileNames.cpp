#include "SharedFileNames.h"

#include "GroupChatNames.h"

#include <QDateTime>

namespace {

// Marks that turn the text around them about: a name holding them shows another ending than it has
// ("photo<U+202E>gpj.exe" shows as "photoexe.jpg"), so they are shown as escapes.
QString withDirectionMarksShown(const QString& name) {
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        const char16_t code = c.unicode();
        const bool mark = code == 0x061C || code == 0x200E || code == 0x200F ||
                          (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
        if (mark)
            shown += QStringLiteral("%%1").arg(code, 4, 16, QLatin1Char('0')).toUpper();
        else
            shown += c;
    }
    return shown;
}

} // namespace

namespace SharedFileNames {

QString timeText(qint64 time) {
    return QDateTime::fromSecsSinceEpoch(time).toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
}

QString extensionOf(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    // ".profile" is a name, not an extension; "notes.a very long ending" has none either.
    if (dot <= 0 || fileName.size() - dot < 2 || fileName.size() - dot > 16)
        return QString();
    const QString extension = fileName.mid(dot);
    for (const QChar c : extension) {
        if (c.isSpace() || c.unicode() < 0x20 || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QString();
    }
    return extension;
}

QString standInName(const QString& describedName, const QString& objectId, const QString& extension) {
    if (!describedName.trimmed().isEmpty())
        return describedName;
    return objectId + extension;
}

QString nameOf(qint64 time, const QString& fileName, int copy, int maxBytes, bool windowsNames) {
    const QString extension = extensionOf(fileName);
    const QString timeAndBlank = timeText(time) + QLatin1Char(' ');
    const QString timeAndEscapedBlank = timeText(time) + QStringLiteral("%20");
    const QString stem = timeAndBlank + fileName.chopped(extension.size());
    const QString ending = (copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString()) + extension;
    // The stem is cut, never the extension or an escape: each character takes a byte at least.
    qsizetype keep = qMin<qsizetype>(stem.size(), maxBytes);
    for (;;) {
        if (keep < stem.size() && keep > 0 && stem.at(keep - 1).isHighSurrogate())
            --keep;
        QString name = GroupChatNames::escapedName(stem.left(keep) + ending, windowsNames);
        // A name of dots and blanks alone (".."): Windows' escape of the trailing ones takes the blank
        // after the time too, which is no part of the name and stays a blank, as on other systems;
        // only where nothing follows it is it the name's end.
        if (name.startsWith(timeAndEscapedBlank) && name.size() > timeAndEscapedBlank.size())
            name.replace(0, timeAndEscapedBlank.size(), timeAndBlank);
        name = withDirectionMarksShown(name);
        if (GroupChatNames::bytesOf(name) <= maxBytes || keep <= 1)
            return name;
        --keep;
    }
}

} // namespace SharedFileNames
