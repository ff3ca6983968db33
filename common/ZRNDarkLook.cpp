#include "common/ZRNDarkLook.h"

#include <QColor>

QPalette ZRN_DarkPalette(const QPalette& base) {
  QPalette dark = base;
  const QColor window(0x2b, 0x2b, 0x2d), field(0x1e, 0x1e, 0x20), text(Qt::white), dimmed(255, 255, 255, 110);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    dark.setColor(group, QPalette::Window, window);
    dark.setColor(group, QPalette::WindowText, text);
    dark.setColor(group, QPalette::Base, field);
    dark.setColor(group, QPalette::AlternateBase, window);
    dark.setColor(group, QPalette::Text, text);
    dark.setColor(group, QPalette::Button, QColor(0x45, 0x45, 0x48));
    dark.setColor(group, QPalette::ButtonText, text);
    dark.setColor(group, QPalette::Mid, QColor(0x46, 0x46, 0x46));
    dark.setColor(group, QPalette::ToolTipBase, field);
    dark.setColor(group, QPalette::ToolTipText, text);
    dark.setColor(group, QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
    dark.setColor(group, QPalette::HighlightedText, text);
    dark.setColor(group, QPalette::PlaceholderText, dimmed);
  }
  dark.setColor(QPalette::Disabled, QPalette::Window, window);
  dark.setColor(QPalette::Disabled, QPalette::Base, field);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(QPalette::Disabled, role, dimmed);
  return dark;
}
