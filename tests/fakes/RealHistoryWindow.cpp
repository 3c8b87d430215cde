#include "RealHistoryWindow.h"

#include <QFile>

RealHistoryWindow::RealHistoryWindow(TestWindow& fakes, const QString& history)
    : m_env("PARLORIX_SKYPE_DATA", QFile::encodeName(history))
    , m_connector(fakes.settings)
    , m_services{fakes.boxes, fakes.shell,  fakes.settings, fakes.browser,
                 m_connector, fakes.random, fakes.files,    fakes.programFolder()}
    , m_form(m_services) {
    m_form.Form_Load();
}
