#pragma once

#include <QString>

class RandomSource;
class Shell;

// The product's fixed texts and the small routines of start-up that need no window.
namespace AppInfo {

QString productName();
QString supportAddress();
QString homePage();

// The location text of a handler in the error report box, e.g. for "Form_Load".
QString location(const QString& handler);

// Files below the program folder (a folder without a trailing separator).
QString skinFile(const QString& programFolder);
QString handPointerFile(const QString& programFolder);
QString helpVideoFile(const QString& programFolder);

// The application title: the product name cut before its last blank until it is at most
// 40 characters long, cut at least once. A name without a blank cannot be cut and fails.
QString applicationTitleFor(const QString& productName);

// The desktop folder followed by the native separator; fails when the platform cannot give one.
QString desktopFolder(const Shell& shell);

// At one start in a hundred, on average, opens the home page. Returns the number drawn.
int openHomePageAtRandom(RandomSource& random, Shell& shell);

} // namespace AppInfo
