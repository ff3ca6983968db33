#pragma once
// Keeping windows on the screen. A window manager places a new window where it likes and lets a
// program make a window larger than the screen; either can leave the title bar or the controls out of
// reach. These helpers keep a window's whole frame inside the available area of its screen (the screen
// less the panels and docks).

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// The available area of the screen the window is on; for a window not shown yet, that of the active
// window's screen, else the primary screen's.
QRect Gui_AvailableArea(const QWidget* window);

// What the window manager's frame adds around the window's own area. Known once the window is shown;
// before, the frame of another shown window stands in (window managers frame their windows alike).
QMargins Gui_FrameMargins(const QWidget* window);

// Shrinks the window (never below its minimum size) and moves it so that its frame lies within the
// available area. Answers whether the frame already did.
bool Gui_KeepWindowInArea(QWidget* window);

// Shows a window that has not been shown yet at the next cascade place of the available area, sized to
// fit it; once the window manager has framed the window it is checked again, since only then is the
// frame known. A window shown before is only shown and kept inside the area.
void Gui_ShowWindowInArea(QWidget* window);

// The size the window must take so that the view in it shows `wanted` (at the view's aspect), made
// smaller at the same aspect where the frame would not fit the available area: the window's own parts
// around the view stay as they are. `fitted` receives the view size that was chosen.
QSize Gui_WindowSizeForViewSize(const QWidget* window, const QWidget* view, QSize wanted, QSize* fitted = nullptr);

// True when the window's frame, one pixel larger in both directions, would leave the available area:
// no size command can make it larger.
bool Gui_WindowFillsArea(const QWidget* window);
