#pragma once

#include <QString>

struct Services;

// A file or folder dropped onto the main window: a history becomes the one the program reads.
namespace HistoryDrop {

// Stores the path under "Skype History" when it holds a Skype history; otherwise says why not
// and stores nothing. Returns whether it was taken.
bool take(const QString& path, Services& services);

} // namespace HistoryDrop
