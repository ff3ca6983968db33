// Between the application delegate and the live window: what the menus ask of the live window, and the
// delegate's answers to the live recording's questions (the exports of the recording's playback window).

#include "app/ZRNAppDelegate.h"

#include "capture/VLLiveWC.h"
#include "capture/VLLiveWC_Recording.h"
#include "composition/ZRNJobsController.h"
#include "playback/VLProgressivePlayWC.h"

namespace {
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

bool VLLiveWC_MayStartRecording() {
  VLLiveWC* live = VLLiveWC_Current();
  return live && live->recording().mayStartRecording();
}

QUrl VLLiveWC_CapturedMovieURL() {
  const VLLiveWC* live = VLLiveWC_Current();
  return live ? live->capturedMovieURL() : QUrl();
}

std::shared_ptr<VLDocument> VLLiveWC_Document() {
  const VLLiveWC* live = VLLiveWC_Current();
  return live ? live->recording().vlDocument() : nullptr;
}

void VLLiveWC_SetProgressiveWindowWasOpen(bool open) {
  if (VLLiveWC* live = VLLiveWC_Current()) live->recording().setProgressiveWindowWasOpen(open);
}

// The live recording's playback window, as the subsystems see it

int ZRNAppDelegate::capturePlaybackWaitingJobs() const {
  ZRNJobsController* jobs = capturePlaybackJobs();
  return jobs ? static_cast<int>(jobs->numberOfWaitingJobs()) : 0;
}

int ZRNAppDelegate::capturePlaybackPendingJobs() const {
  ZRNJobsController* jobs = capturePlaybackJobs();
  return jobs ? static_cast<int>(jobs->numberOfPendingJobs()) : 0;
}

void ZRNAppDelegate::clearCapturePlaybackPendingJobs() {
  if (ZRNJobsController* jobs = capturePlaybackJobs()) jobs->clearAllPendingJobs();
}

void ZRNAppDelegate::setProgressiveWindowWasOpen(bool open) { VLLiveWC_SetProgressiveWindowWasOpen(open); }
