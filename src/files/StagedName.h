#pragma once

#include <QString>

// The names of the program's own staged files: a head that ends in four random letters, then two
// letters that check the rest, then ".part". A file of that shape that the program did not make is
// hardly ever taken for one of its own.
namespace StagedName {

// Four random letters and digits, for the end of a head.
QString randomPart();
// The head, its two check letters and ".part".
QString checked(const QString& head);

} // namespace StagedName
