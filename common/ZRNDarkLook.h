#pragma once
// The dark look of the application's own windows and dialogs, whatever the desktop's theme.

#include <QPalette>

// base with the dark colours set in every colour group (dimmed text when disabled).
QPalette ZRN_DarkPalette(const QPalette& base = QPalette());
