#pragma once
// Keeping the display awake: the desktop's org.freedesktop.ScreenSaver service on the session bus
// (KDE, Xfce, GNOME's compatibility interface, ...). Not every desktop's screen blanking honours
// logind's "idle" lock, but they honour this one.

#include <QString>

#include <memory>

// One hold on the screen saver for as long as the object lives. The Inhibit call and the UnInhibit
// with its cookie are made on a worker queue (the caller never waits for the bus), each hold on a
// connection of its own that stays open while it is held, since some desktops drop a hold whose
// connection closes. Without a session bus or a screen-saver service nothing is held and nothing fails.
class ScreenSaverInhibition {
 public:
  ScreenSaverInhibition(const QString& application, const QString& reason);
  ~ScreenSaverInhibition();
  ScreenSaverInhibition(const ScreenSaverInhibition&) = delete;
  ScreenSaverInhibition& operator=(const ScreenSaverInhibition&) = delete;

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

// Waits until every hold and release asked for so far has reached the bus (at exit: nothing is left
// held by a call still queued).
void ScreenSaver_WaitForPendingCalls();
