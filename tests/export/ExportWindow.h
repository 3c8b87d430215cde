#pragma once

#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// The window on fakes with an output folder of its own, US English dates and a time zone of the
// test's choosing.
class ExportWindow : public ::testing::Test {
protected:
    explicit ExportWindow(const char* timeZone);
    void SetUp() override;

    Form1& form() { return w.form(); }
    QString transcript(const char* handle) const;
    // Appends the rows, ticked.
    void tick(const QStringList& handles);

    ScopedEnv env;
    QTemporaryDir outputDir;
    QString folder;
    TestWindow w;

private:
    const char* m_timeZone;
};

// The bytes of a file, or "<missing>".
QByteArray contents(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
