// The live window's sound monitor: its button, which says why it cannot be used where it cannot, and the
// volume of the monitor it switches.

#include "capture/VLLiveWC.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"

#include <QIcon>

void VLLiveWC::setAudioPreviewOnOff() {
  m_audioPreviewON = !m_audioPreviewON;
  if (auto preview = audioPreviewOutput()) preview->setVolume(m_audioPreviewON ? 1.0f : 0.0f);
  U_UpdateAudioPreviewControl();
}

void VLLiveWC::U_UpdateSoundControls() { U_UpdateAudioPreviewControl(); }

void VLLiveWC::U_SetAudioPreviewButton(bool enabled, bool on, const QString& tip) {
  if (!m_audioPreviewBtn) return;
  m_audioPreviewBtn->setEnabled(enabled);
  m_audioPreviewBtn->setProperty("imageName", on ? QStringLiteral("soundOn") : QStringLiteral("soundOff"));
  m_audioPreviewBtn->setIcon(QIcon::fromTheme(on ? QStringLiteral("audio-volume-high") : QStringLiteral("audio-volume-muted")));
  m_audioPreviewBtn->setText(on ? tr("Live Audio On") : tr("Live Audio Off"));
  m_audioPreviewBtn->setToolTip(tip);
}

void VLLiveWC::U_UpdateAudioPreviewControl() {
  if (!m_audioPreviewBtn) return;
  const bool capture = Prefs_Shared().captureAudio();
  const bool hasDevice = Prefs_Shared().hasAudioDevice();
  if (!ZRNAppSetup_HasMicrophoneAccess()) {
    U_SetAudioPreviewButton(false, false, QStringLiteral("Disabled because the app has no microphone access"));
  } else if (!capture && hasDevice) {
    U_SetAudioPreviewButton(false, false, QStringLiteral("Audio recording is disabled"));
  } else if (!capture && !hasDevice) {
    U_SetAudioPreviewButton(false, false, QStringLiteral("No audio device is available"));
  } else if (capture && !hasDevice) {
    // left as it is
  } else if (Prefs_Shared().microphoneIsBuiltIn()) {
    U_SetAudioPreviewButton(false, false,
        QStringLiteral("Disabled to prevent audio feedback loop when the built-in microphone is selected as audio source."));
  } else if (m_audioPreviewON) {
    U_SetAudioPreviewButton(true, true, QStringLiteral("Click to silence live audio"));
  } else {
    U_SetAudioPreviewButton(true, false, QStringLiteral("Click to turn on live audio"));
  }
}
