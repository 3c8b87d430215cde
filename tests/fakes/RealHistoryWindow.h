#pragma once

#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include "skype/HistoryConnector.h"

// The real main window on the real Skype link, reading the history at the path as
// PARLORIX_SKYPE_DATA names it, with the test window's fakes for everything else. Started up.
class RealHistoryWindow {
public:
    RealHistoryWindow(TestWindow& fakes, const QString& history);

    Form1& form() { return m_form; }
    Services& services() { return m_services; }

private:
    ScopedEnv m_env;
    HistoryConnector m_connector;
    Services m_services;
    Form1 m_form;
};
