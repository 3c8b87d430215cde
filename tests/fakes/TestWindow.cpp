#include "TestWindow.h"

#include <QDir>
#include <QPushButton>

#include <gtest/gtest.h>

TestWindow::TestWindow() = default;

QString TestWindow::programFolder() const {
    return QDir::toNativeSeparators(m_programDir.path());
}

Services TestWindow::services() {
    return Services{boxes, shell, settings, browser, skype, random, files, programFolder()};
}

Form1& TestWindow::load() {
    m_form = std::make_unique<Form1>(services());
    m_form->Form_Load();
    return *m_form;
}

void TestWindow::click(const char* button) {
    auto* pushButton = find<QPushButton>(button);
    ASSERT_NE(pushButton, nullptr) << button;
    pushButton->click();
}
