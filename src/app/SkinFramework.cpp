#include "SkinFramework.h"

#include "base/Failure.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

SkinFramework::SkinFramework(QObject* parent)
    : QObject(parent) {}

QVariant SkinFramework::invoke(int member, const QVariantList& arguments) {
    switch (member) {
    case 2:
        if (arguments.size() != 2)
            throw Failure(QStringLiteral("Wrong number of arguments"));
        load(arguments.at(0).toString());
        return QVariant();
    case 3:
        if (arguments.size() != 1)
            throw Failure(QStringLiteral("Wrong number of arguments"));
        apply(arguments.at(0).toULongLong());
        return QVariant();
    default:
        throw Failure(QStringLiteral("Object doesn't support this property or method"));
    }
}

QVariant SkinFramework::getProperty(int id) const {
    switch (id) {
    case 1:
        return m_flags;
    case 5:
        return m_enabled;
    case 10:
        return m_skinDialogs;
    default:
        throw Failure(QStringLiteral("Object doesn't support this property or method"));
    }
}

void SkinFramework::putProperty(int id, const QVariant& value) {
    switch (id) {
    case 1:
        m_flags = value.toInt();
        return;
    case 5:
        m_enabled = value.toBool();
        return;
    case 10:
        m_skinDialogs = value.toBool();
        return;
    default:
        throw Failure(QStringLiteral("Object doesn't support this property or method"));
    }
}

void SkinFramework::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot load the skin '%1': %2").arg(path, file.errorString()));
    m_styleSheet = QString::fromUtf8(file.readAll());
    m_loadedFile = path;
}

void SkinFramework::apply(qulonglong windowHandle) {
    QWidget* window = QWidget::find(static_cast<WId>(windowHandle));
    if (!window)
        throw Failure(QStringLiteral("Invalid window handle"));
    if (!m_enabled)
        return;
    window->setStyleSheet(m_styleSheet);
    if (m_skinDialogs)
        qApp->setStyleSheet(m_styleSheet);
}
