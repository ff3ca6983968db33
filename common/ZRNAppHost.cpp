#include "common/ZRNAppHost.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>

namespace {

// The answers of a run without an application delegate.
class NoAppHost final : public ZRNAppHost {
 public:
  bool appIsQuitting() const override { return false; }
  void setAppIsQuitting(bool) override {}
  void setAppInModalMode(bool) override {}
  void terminate() override {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
  }
  bool recordingIsON() const override { return false; }
  void U_CloseAndRemoveWC(QWidget*) override {}
  void removeWC(QWidget*) override {}
  bool U_CloseFileIfOpen(const QString&) override { return false; }
  void addZRNRecentItemForPath(const QString&) override {}
  void U_OpenWindowForTopDoc() override {}
  QWidget* capturePlaybackWindow() const override { return nullptr; }
  void setCapturePlaybackWindow(QWidget*) override {}
  void U_OpenLiveRecordingAndShow(bool) override {}
  int capturePlaybackWaitingJobs() const override { return 0; }
  int capturePlaybackPendingJobs() const override { return 0; }
  void clearCapturePlaybackPendingJobs() override {}
  void setProgressiveWindowWasOpen(bool) override {}
};

NoAppHost gNoHost;
std::atomic<ZRNAppHost*> gHost{&gNoHost};

}  // namespace

ZRNAppHost& ZRNAppHost_Shared() { return *gHost.load(); }

void ZRNAppHost_SetShared(ZRNAppHost* host) { gHost.store(host ? host : &gNoHost); }
