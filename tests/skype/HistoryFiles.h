#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Histories written by the tests into a temporary folder.
class HistoryFiles {
public:
    // A database built from SQL.
    QString database(const char* name, const char* sql);
    QString file(const char* name, const QByteArray& bytes);
    // An export .tar holding the given members (name, content) in order.
    QString tar(const char* name, const QList<QPair<QByteArray, QByteArray>>& members);
    QString path(const char* name) const;

    static QString fixture(const char* name);

private:
    QTemporaryDir m_dir;
};
