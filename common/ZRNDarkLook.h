#pragma once
// The dark look of the application's own windows and dialogs, whatever the desktop's theme.

#include <QPalette>

class QStyle;
class QWidget;

// base with the dark colours set in every colour group: a disabled control stays a dark box with dimmed
// text (never a light box with white text).
QPalette ZRN_DarkPalette(const QPalette& base = QPalette());

// Gives `window` the dark palette; what it opens in windows of their own (the lists of its pop-up
// buttons, its context menus) is dark too, and its radio buttons and check boxes (those it holds now)
// draw indicators that read on the dark background.
void ZRN_ApplyDarkLook(QWidget* window, const QPalette& base = QPalette());

// The style of those indicators: a light ring and a white mark on the dark field. Owned by the
// application.
QStyle* ZRN_DarkIndicatorStyle();
