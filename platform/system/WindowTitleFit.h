#pragma once
// Windows wide enough for their own title and text. A dialog laid out by Qt takes the narrowest width
// its layout allows; the window manager then cuts its title ("Softwa…pdate") and a word-wrapped text
// breaks after every few words.

class QWidget;

// The width the window's title needs in the window manager's title bar: the title in bold, with room
// for the window's icon and its buttons.
int Window_TitleBarWidth(const QWidget* window);

// Makes `window` at least as wide as its title needs, and gives each of its word-wrapped labels the
// width of its text on one line, up to `maxTextWidth` (longer texts wrap at that width).
void Window_FitTitleAndTexts(QWidget* window, int maxTextWidth = 460);
