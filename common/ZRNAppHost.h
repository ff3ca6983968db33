#pragma once
// What the subsystems ask of the application delegate. The delegate lives at the top of the program and
// knows every window; the subsystems below it only know this interface, which the delegate implements
// and installs for the run. Without a delegate (tests, tools) a stand-in answers: not quitting, no
// recording, no windows and no exports; its terminate ends the event loop.

#include <QString>

class QWidget;

class ZRNAppHost {
 public:
  virtual ~ZRNAppHost() = default;

  // ---- Application state ----
  // Set by a confirmed quit request or by the delegate's own quit.
  virtual bool appIsQuitting() const = 0;
  virtual void setAppIsQuitting(bool quitting) = 0;
  virtual void setAppInModalMode(bool on) = 0;
  // Hides the preferences window without closing it (closing would apply its settings): a recording
  // that starts takes the screen.
  virtual void orderOutPreferencesWindow() {}
  // Runs the termination sequence (as Quit does).
  virtual void terminate() = 0;
  virtual bool recordingIsON() const = 0;
  // The recording in progress (none: NO): whether it records sound, and whether its microphone is the
  // computer's built-in one, which would pick up the sound of a playback.
  virtual bool recordingCapturesAudio() const { return false; }
  virtual bool recordingMicrophoneIsBuiltIn() const { return false; }

  // ---- Saved sessions ----
  // A playback window whose session could not be opened: its recents entry and the window go.
  virtual void U_CloseAndRemoveWC(QWidget* playbackWindow) = 0;
  // A playback window closed: the delegate forgets it.
  virtual void removeWC(QWidget* playbackWindow) = 0;
  virtual bool U_CloseFileIfOpen(const QString& path) = 0;
  virtual void addZRNRecentItemForPath(const QString& path) = 0;
  virtual void U_OpenWindowForTopDoc() = 0;

  // ---- The live recording's playback window ----
  virtual QWidget* capturePlaybackWindow() const = 0;
  // The window goes (none: forget it).
  virtual void setCapturePlaybackWindow(QWidget* window) = 0;
  virtual void U_OpenLiveRecordingAndShow(bool show) = 0;
  // Waiting and pending exports of its session; clearing them.
  virtual int capturePlaybackWaitingJobs() const = 0;
  virtual int capturePlaybackPendingJobs() const = 0;
  virtual void clearCapturePlaybackPendingJobs() = 0;
  // Whether the live recording's playback window was shown, as the live window remembers it.
  virtual void setProgressiveWindowWasOpen(bool open) = 0;
};

// The host of the run: the delegate once it has installed itself, the stand-in before and after. Main
// thread, except that appIsQuitting may be asked from any thread.
ZRNAppHost& ZRNAppHost_Shared();
// Null puts the stand-in back.
void ZRNAppHost_SetShared(ZRNAppHost* host);
