#pragma once

#include <QStringList>

struct Services;

// Files or folders dropped onto the main window: the history, or the histories read as one, that the
// program reads from now on.
namespace HistoryDrop {

// Stores the paths under "Skype History" (several as PATH names folders) when each holds a Skype
// history; otherwise says why not and stores nothing. Returns whether they were taken.
bool take(const QStringList& paths, Services& services);

} // namespace HistoryDrop
