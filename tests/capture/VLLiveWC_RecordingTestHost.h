#pragma once
// A stand-in for the capture half of the live window: a real window with the recording outlets, a
// session queue and (for recordings) a real capture session; it counts what the recording half asks.

#include "capture/VLLiveWC_Recording.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <atomic>

class TestLiveHost : public VLLiveWC_RecordingHost {
 public:
  TestLiveHost() {
    m_window = new QWidget;
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    m_preview = new QWidget(m_window);
    m_preview->setMinimumSize(16, 16);
    layout->addWidget(m_preview, 1);
    // Each outlet is added to the layout as it is made.
    auto add = [layout](auto* widget) { layout->addWidget(widget); return widget; };
    outlets.recIndicatorView = add(new QLabel(m_window));
    outlets.captureDurationLabel = add(new QLabel(m_window));
    outlets.recordButton = add(new QPushButton(QStringLiteral("Start Recording"), m_window));
    outlets.showFootageBtn = add(new QPushButton(QStringLiteral("Show Footage"), m_window));
    outlets.footageProgress = add(new QProgressBar(m_window));
    outlets.sourcePrefsBtn = add(new QPushButton(QStringLiteral("Sources"), m_window));
  }
  ~TestLiveHost() override { delete m_window; }

  const void* liveWindowObject() const override { return this; }
  QWidget* window() const override { return m_window; }
  QWidget* previewView() const override { return m_preview; }
  QUrl targetURL() const override { return target; }
  bool captureAudio() const override { return audio; }
  std::shared_ptr<DispatchQueue> sessionQueue() const override { return queue; }
  CaptureSessionRef captureSession() const override { return session; }
  void queueStopLiveSession() override { ++stopLiveSessionCalls; }
  void U_StopAndSaveSessionAndReconfigureLiveSession(bool keep) override {
    ++teardowns;
    lastRebuild = !(recording && (recording->isClosing() || recording->appIsQuitting()));
    QPointer<VLLiveWC_Recording> rec(recording);
    queue->async([rec, keep] {
      Dispatch_MainAsync([rec, keep] {
        if (rec) rec->U_FinishStopAndSave(keep);
      });
    });
  }
  void setLiveAudioVolume(float v) override { volume = v; }

  VLLiveWC_RecordingOutlets outlets;
  VLLiveWC_Recording* recording = nullptr;  // the recording half this host serves
  QUrl target;
  bool audio = true;
  std::shared_ptr<DispatchQueue> queue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.session.queue"));
  CaptureSessionRef session;
  int stopLiveSessionCalls = 0;
  std::atomic<int> teardowns{0};
  bool lastRebuild = true;
  float volume = -1;

 private:
  QWidget* m_window;
  QWidget* m_preview;
};
