#pragma once

#include <QByteArray>
#include <QPoint>

class MainView;

// The main window's pointer: one value that applies over the whole window.
namespace Pointer {

constexpr int Default = 0;
constexpr int Wait = 11;
constexpr int Hand = 99;

// What every hover handler does: the value, unless the wait pointer is on.
void hover(MainView& view, int value);

// The hot spot of a Windows cursor file: its first image's entry in the directory; (0, 0) for a
// file too short to have one.
QPoint cursorHotSpot(const QByteArray& cursorFile);

} // namespace Pointer
