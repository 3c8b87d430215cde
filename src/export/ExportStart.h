#pragma once

#include <QString>

#include <memory>

class ErrorTrap;
class MainView;
class SkypeRoot;
class TranscriptFiles;
struct Services;

// The start the export run and the group chats share, as steps 100 to 104 of their trap: the link,
// the output folder, whether Skype runs (else the guidance), then the folder's lock. Null when the
// export must not go on; the user has been told why. `folderText` receives the output folder's text
// as it was read then: the export works in that folder to its end, whatever the text says meanwhile.
// A folder the files opened in an earlier pass of the run counts as there, wherever it was moved.
std::shared_ptr<SkypeRoot> startExport(ErrorTrap& trap, MainView& view, Services& services,
                                       TranscriptFiles& files, QString* folderText);
