#pragma once

class MainView;

// The main window's pointer: one value that applies over the whole window.
namespace Pointer {

constexpr int Default = 0;
constexpr int Wait = 11;
constexpr int Hand = 99;

// What every hover handler does: the value, unless the wait pointer is on.
void hover(MainView& view, int value);

} // namespace Pointer
