#pragma once
// Thin bases shared by the application's objects, views and windows. Each keeps the family a class
// belongs to visible; the set-up a class needs lives in its constructor, which every way of making
// it runs.

#include "platform/gui/DialogRunner.h"

#include <QColor>
#include <QDialog>
#include <QMainWindow>
#include <QPushButton>
#include <QSplitter>
#include <QWidget>

#include <memory>

class QAction;
class VLDocument;

// Base of plain model objects (the session document).
class ZRNCommonInitObj {
 public:
  ZRNCommonInitObj() = default;
  virtual ~ZRNCommonInitObj() = default;
};

// Base of the drawn views.
class ZRN_CommonInitView : public QWidget {
  Q_OBJECT
 public:
  explicit ZRN_CommonInitView(QWidget* parent = nullptr) : QWidget(parent) {}
};

// Base of view controllers (preference tabs, the info popover, the empty-table note): a panel widget.
class ZRN_CommonInitViewC : public QWidget {
  Q_OBJECT
 public:
  explicit ZRN_CommonInitViewC(QWidget* parent = nullptr) : QWidget(parent) {}
};

// Base of window controllers. A window controller here is its window: a dialog (QDialog) or a
// document window (QMainWindow). The show-or-hide helpers serve every window.
template <class Window>
class ZRN_CommonInitWC : public Window {
 public:
  explicit ZRN_CommonInitWC(QWidget* parent = nullptr) : Window(parent) {}

  bool isWindowShown() const { return Gui_IsWindowShown(this); }
  void showOrHideWindow() { Gui_ShowOrHideWindow(this); }
  void showOrHidePalette() { Gui_ShowOrHidePalette(this); }
};

// The answers of the application's own dialogs.
enum : int {
  kDialogResultFirst = -1000,  // the first (OK) button
  kDialogResultCancel = -1001, // Cancel, or the dialog ended by an event
  kDialogResultOther = -1002,  // the third button
};

// Base of the document windows (the live and playback windows): the session document they show and
// their window-size commands, which the subclasses give meaning to.
class ZRNSizingWC : public ZRN_CommonInitWC<QMainWindow> {
  Q_OBJECT
 public:
  explicit ZRNSizingWC(QWidget* parent = nullptr);
  ~ZRNSizingWC() override;

  std::shared_ptr<VLDocument> vlDocument() const { return m_vlDocument; }
  virtual void setVlDocument(std::shared_ptr<VLDocument> document) { m_vlDocument = std::move(document); }

  virtual bool windowIsNaturalSize() const { return true; }
  virtual bool windowCanIncreaseSize() const { return true; }
  virtual bool windowCanDecreaseSize() const { return true; }

  // Menu validation: the natural-size command (an action named "resizeToNaturalSize") is enabled only
  // while the window is not at its natural size; every other command is enabled.
  virtual bool validateMenuItem(const QAction* item) const;
  // Applies validateMenuItem to the given actions.
  void validateMenuItems(const QList<QAction*>& items) const;

 public slots:
  virtual void resizeToNaturalSize() {}
  virtual void increaseWindowSize() {}
  virtual void decreaseWindowSize() {}

 private:
  std::shared_ptr<VLDocument> m_vlDocument;
};

// A split view whose dividers are drawn in one fixed colour: the palette's divider (mid) colour.
class ZRN_CommonInitSplitView : public QSplitter {
  Q_OBJECT
 public:
  explicit ZRN_CommonInitSplitView(QWidget* parent = nullptr);
  explicit ZRN_CommonInitSplitView(Qt::Orientation orientation, QWidget* parent = nullptr);

  QColor dividerColor() const;

 protected:
  QSplitterHandle* createHandle() override;
};

// A link-style button: its text underlined in the palette's link colour, the pointing-hand cursor over
// it, and a ring in that colour while it has the keyboard focus. Still a button to the keys (Tab, Space)
// and to assistive technology.
class ZRNHyperlinkButton : public QPushButton {
  Q_OBJECT
 public:
  explicit ZRNHyperlinkButton(QWidget* parent = nullptr);
  explicit ZRNHyperlinkButton(const QString& text, QWidget* parent = nullptr);

  // The text with half a line of room on either side, for the ring.
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Holds one content widget (a movie view) at a fixed width-to-height ratio, as large as fits and
// centred. The ratio is replaced with updateMultiplier when the movie's size changes.
class ZRNAspectRatioBox : public QWidget {
  Q_OBJECT
 public:
  explicit ZRNAspectRatioBox(QWidget* parent = nullptr);

  void setContentWidget(QWidget* content);
  QWidget* contentWidget() const { return m_content; }
  // Width divided by height; a ratio that is not positive and finite is ignored.
  double multiplier() const { return m_multiplier; }
  void updateMultiplier(double multiplier);

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutContent();
  QWidget* m_content = nullptr;
  double m_multiplier = 16.0 / 9.0;
};
