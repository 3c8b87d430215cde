#pragma once

#include <QString>

// Makes a folder, and the folders above it that are missing, and says why when it cannot: a link on
// the way that leads nowhere, something on the way that is no folder, writing refused, a name too
// long, a full disk.
namespace FolderCreation {

// Whether the folders above it are made where missing, or must be there.
enum class Parents { Make, Keep };

// Empty when the folder is there afterwards; else the reason, to follow "Cannot create the folder
// '…': ".
QString make(const QString& path, Parents parents = Parents::Make);

} // namespace FolderCreation
