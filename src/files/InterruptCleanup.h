#pragma once

#include "FileSystem.h"

#include <QString>

class OpenedFolder;

// The staged files this program has in the folders it writes, which an interrupt (Ctrl-C, SIGTERM,
// SIGHUP; on Windows the console's Ctrl-C, Ctrl-Break or close) would otherwise leave there until a
// later run: they are removed before the program ends so. A signal the program was started to ignore
// (nohup, a background job) or that something else handles is left as it is.
namespace InterruptCleanup {

// Notes a staged file of the folder, which must stay open until it is forgotten; `id` is the file made,
// and only that file is removed, whatever took its name meanwhile. Returns the
// number to forget it by, or -1 when it cannot be noted: it is then left for the next run's clean-up.
int note(const OpenedFolder& folder, const QString& name, const FileId& id);
// Forgets it: once it was moved into place, or before it is removed. Only the file made is removed,
// so a name another file took meanwhile stays.
void forget(int entry);

} // namespace InterruptCleanup
