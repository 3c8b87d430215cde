#pragma once

#include <memory>

class ErrorTrap;
class MainView;
class SkypeRoot;
struct Services;

// "3. Save Checked Chat Histories": one transcript per ticked contact. The old transcripts of the
// ticked contacts are deleted first, then every chat is offered to every ticked row whose text is
// the chat's partner handle. Ticks and the folder text are read afresh at every step, and the
// window handles its events once per row and once per chat.
class ExportRun final {
public:
    ExportRun(MainView& view, Services& services);
    void run();

private:
    void deleteOldTranscripts(ErrorTrap& trap);
    void writeTranscripts(ErrorTrap& trap, SkypeRoot& root);
    void writeChat(ErrorTrap& trap, SkypeRoot& root, int chat, int row);

    MainView& m_view;
    Services& m_services;
};
