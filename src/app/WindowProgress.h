#pragma once

#include "skype/ReadProgress.h"

#include <QElapsedTimer>

// The window while a handler reads the history: as chats and messages are read, it repaints a few
// times a second (the busy pointer shows, the window is not left blank on a long read). Clicks and
// keys wait for the handler to take them, so no other handler starts in the middle of a read.
class WindowProgress final : public ReadProgress {
public:
    void chatsCounted(int total) override { static_cast<void>(total); }
    void chatsPlanned(const std::vector<int>& positions) override { static_cast<void>(positions); }
    void chatAsked(int position) override;
    void messageRead() override;

private:
    void repaint();

    qint64 m_messages = 0;
    QElapsedTimer m_lastRepaint;
};
