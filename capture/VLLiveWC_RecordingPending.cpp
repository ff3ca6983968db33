// Placeholders for the live window's recording half until VLLiveWC_Recording.cpp exists: that file
// replaces this one (delete this file when adding it). Nothing here records.

#include "capture/VLLiveWC.h"

void VLLiveWC::prepareForNewRecording() {}
void VLLiveWC::handleMovieStarted(const Notification&) {}
void VLLiveWC::toggleCapture() {}
void VLLiveWC::U_FinishStopAndSave(bool) {}
void VLLiveWC::captureOutput(CaptureOutput*, const SampleBufferRef&) {}
void VLLiveWC::U_ClearWriter() {}
