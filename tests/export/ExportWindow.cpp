#include "ExportWindow.h"

#include <QDir>
#include <QFile>

ExportWindow::ExportWindow(const char* timeZone)
    : m_timeZone(timeZone) {}

void ExportWindow::SetUp() {
    env.set("LANG", "en_US.UTF-8").set("TZ", m_timeZone);
    folder = QDir::toNativeSeparators(outputDir.path()) + QDir::separator();
    w.settings.set(QStringLiteral("Output Folder"), folder);
    w.load();
}

QString ExportWindow::transcript(const char* handle) const {
    return folder + QString::fromUtf8(handle) + QStringLiteral(".txt");
}

void ExportWindow::tick(const QStringList& handles) {
    for (const QString& handle : handles) {
        form().appendRow(handle);
        form().setRowChecked(form().rowCount(), true);
    }
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
