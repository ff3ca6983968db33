#pragma once
// What Velmora shows when it shows no window (the naming panel cancelled, the wait for the camera given
// up, the last window closed): a small window of its own with the application's menus (Velmora, File,
// Help) and the two ways in, "New Live Session" and "Open…". On Linux the menus live in windows; without
// it a running Velmora would have no command left on screen.
//
// It watches the application's windows: it leaves as soon as another window shows, and comes back a
// moment after the last one has gone (a window that is replaced by another does not make it flash).
// Closing it quits Velmora, with the questions that Quit asks.

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

class QPushButton;
class ZRNAppDelegate;

class ZRNNoWindowWC : public QMainWindow {
  Q_OBJECT
 public:
  explicit ZRNNoWindowWC(ZRNAppDelegate* delegate);
  ~ZRNNoWindowWC() override;

  QPushButton* newLiveSessionBtn() const { return m_newLiveSessionBtn; }
  QPushButton* openBtn() const { return m_openBtn; }

  // Looks again, a moment later, whether any other window is shown.
  void windowsChanged();
  // Whether a window of Velmora other than this one is on screen (dialogs and panels count).
  bool otherWindowShown() const;

 signals:
  // Emitted each time it comes on screen because no other window was left.
  void appeared();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void U_Check();
  bool U_Counts(const QWidget* window) const;

  ZRNAppDelegate* m_delegate;
  QPushButton* m_newLiveSessionBtn = nullptr;
  QPushButton* m_openBtn = nullptr;
  QTimer m_checkTimer;
};

// How long the last window must have been gone before the window shows, in milliseconds.
inline constexpr int kZRNNoWindowDelayMillis = 300;
