#include "GroupChatNames.h"

#include "FileRoutines.h"

#include <QCryptographicHash>

namespace {

#ifdef Q_OS_WIN
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

// What two names share when they name one file where names are compared loosest: letter case
// ignored (Windows, macOS), and composed and decomposed letters alike (macOS, where even the program
// writes "é" decomposed, whichever way the topic held it).
QString sameFileKey(const QString& name) {
    return name.normalized(QString::NormalizationForm_C)
        .toCaseFolded()
        .normalized(QString::NormalizationForm_C);
}

} // namespace

QString GroupChatNames::escapedName(const QString& text, bool windowsNames) {
    QString name = transcriptName(text, windowsNames);
    if (!windowsNames) {
        QString safe;
        safe.reserve(name.size());
        for (const QChar c : std::as_const(name)) {
            if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F)
                safe += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
            else
                safe += c;
        }
        name = safe;
    }
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        name.replace(0, 1, QStringLiteral("%2E"));
    return name;
}

qsizetype GroupChatNames::bytesOf(const QString& name) {
    return qMax(name.toUtf8().size(), name.normalized(QString::NormalizationForm_D).toUtf8().size());
}

QString GroupChatNames::safeName(const QString& topic, const QString& id, bool windowsNames, int maxBytes) {
    QString text = topic.trimmed().isEmpty() ? id : topic;
    if (text.isEmpty())
        text = QStringLiteral("group");
    // Cut the text, not its escaped name, so that an escape is never cut in two and a trailing dot
    // or blank left by the cut is escaped like any other.
    qsizetype keep = qMin<qsizetype>(text.size(), maxBytes);
    for (;;) {
        if (keep < text.size() && keep > 0 && text.at(keep - 1).isHighSurrogate())
            --keep;
        const QString name = escapedName(text.left(keep), windowsNames);
        if (bytesOf(name) <= maxBytes || keep <= 1)
            return name;
        --keep;
    }
}

QString GroupChatNames::mark(const QString& id, int digits) {
    return QString::fromLatin1(
        QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex().left(digits));
}

namespace {

QString nameWithSuffix(const QString& topic, const QString& id, const QString& suffix) {
    return GroupChatNames::safeName(topic, id, kWindowsNames,
                                    GroupChatNames::kMaxBytes - static_cast<int>(suffix.size())) +
           suffix;
}

} // namespace

QString GroupChatNames::nameOf(const QString& topic, const QString& id, int copy) {
    QString suffix = QStringLiteral(" [") + mark(id) + QLatin1Char(']');
    if (copy > 1)
        suffix += QStringLiteral(" (%1)").arg(copy);
    return nameWithSuffix(topic, id, suffix);
}

QString GroupChatNames::earlierNameOf(const QString& topic, const QString& id) {
    return nameWithSuffix(topic, id, QStringLiteral(" [") + mark(id, kEarlierMarkDigits) + QLatin1Char(']'));
}

void GroupChatNames::expect(const QString& topic, const QString& id) {
    ++m_earlier[sameFileKey(earlierNameOf(topic, id))];
}

QString GroupChatNames::take(const QString& topic, const QString& id,
                             const std::function<bool(const QString&)>& exists) {
    const QString earlier = earlierNameOf(topic, id);
    const QString earlierKey = sameFileKey(earlier);
    // An earlier name no other group of the run has is this group's; one that several have stays as
    // it is, whichever of them it holds. A name of today never ends in eight digits: it is never one.
    if (m_earlier.value(earlierKey) <= 1 && !m_taken.contains(earlierKey) && exists(earlier)) {
        m_taken.insert(earlierKey);
        return earlier;
    }
    for (int copy = 1;; ++copy) {
        const QString name = nameOf(topic, id, copy);
        const QString key = sameFileKey(name);
        if (!m_taken.contains(key)) {
            m_taken.insert(key);
            return name;
        }
    }
}
