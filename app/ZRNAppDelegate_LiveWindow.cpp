// Between the application delegate and the live window: what the menus and the live recording's
// playback window ask of the live window, and what the live window's recording asks of the delegate
// (recent sessions, playback windows, the exports of the recording's playback window).

#include "app/ZRNAppDelegate.h"

#include "capture/VLLiveWC.h"
#include "capture/VLLiveWC_Recording.h"
#include "composition/ZRNJobsController.h"
#include "playback/VLProgressivePlayWC.h"

namespace {
// The live window keeps this flag for its own subclasses; the delegate sets it from outside.
struct LiveWindowFlags : VLLiveWC {
  static constexpr auto progressiveWindowWasOpen = &LiveWindowFlags::m_progressiveWindowWasOpen;
};

ZRNJobsController* capturePlaybackJobs() {
  VLProgressivePlayWC* window = gZRNAppDelegate ? gZRNAppDelegate->capturePlaybackWC() : nullptr;
  return window ? window->jobsController() : nullptr;
}
}  // namespace

QWidget* VLLiveWC_Window() { return VLLiveWC_Current(); }

void VLLiveWC_ToggleCapture() {
  if (VLLiveWC* live = VLLiveWC_Current()) live->toggleCapture();
}

bool VLLiveWC_IsClosing() {
  const VLLiveWC* live = VLLiveWC_Current();
  return live && live->isClosing();
}

QUrl VLLiveWC_CapturedMovieURL() {
  const VLLiveWC* live = VLLiveWC_Current();
  return live ? live->capturedMovieURL() : QUrl();
}

std::shared_ptr<VLDocument> VLLiveWC_Document() {
  VLLiveWC_Recording* recording = VLLiveWC_RecordingOf(VLLiveWC_Current());
  return recording ? recording->vlDocument() : nullptr;
}

void VLLiveWC_SetProgressiveWindowWasOpen(bool open) {
  VLLiveWC* live = VLLiveWC_Current();
  if (!live) return;
  live->*LiveWindowFlags::progressiveWindowWasOpen = open;
  if (VLLiveWC_Recording* recording = VLLiveWC_RecordingOf(live)) recording->setProgressiveWindowWasOpen(open);
}

// The recording half's questions

void VLLiveWC_Recording::U_CloseFileIfOpen(const QString& path) {
  if (gZRNAppDelegate) gZRNAppDelegate->U_CloseFileIfOpen(path);
}

void VLLiveWC_Recording::addZRNRecentItemForPath(const QString& path) {
  if (gZRNAppDelegate) gZRNAppDelegate->addZRNRecentItemForPath(path);
}

void VLLiveWC_Recording::U_OpenWindowForTopDoc() {
  if (gZRNAppDelegate) gZRNAppDelegate->U_OpenWindowForTopDoc();
}

bool VLLiveWC_Recording::hasCapturePlaybackWC() const { return gZRNAppDelegate && gZRNAppDelegate->capturePlaybackWC(); }

void VLLiveWC_Recording::U_OpenLiveRecordingAndShow(bool show) {
  if (gZRNAppDelegate) gZRNAppDelegate->U_OpenLiveRecordingAndShow(show);
}

int VLLiveWC_Recording::capturePlaybackWaitingJobs() const {
  ZRNJobsController* jobs = capturePlaybackJobs();
  return jobs ? static_cast<int>(jobs->numberOfWaitingJobs()) : 0;
}

int VLLiveWC_Recording::capturePlaybackPendingJobs() const {
  ZRNJobsController* jobs = capturePlaybackJobs();
  return jobs ? static_cast<int>(jobs->numberOfPendingJobs()) : 0;
}

void VLLiveWC_Recording::clearAllPendingJobs() {
  if (ZRNJobsController* jobs = capturePlaybackJobs()) jobs->clearAllPendingJobs();
}

void VLLiveWC_Recording::u_DoCloseTheWindow() {
  // The recording's playback window; the stop that follows closes it for good.
  if (VLProgressivePlayWC* window = gZRNAppDelegate ? gZRNAppDelegate->capturePlaybackWC() : nullptr) window->close();
}
