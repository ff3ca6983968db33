#include "platform/media/capture/CaptureSession.h"

#include "platform/foundation/Fmt.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/media/capture/AudioDevices.h"
#include "platform/media/capture/CaptureReader.h"

#include <algorithm>
#include <map>

// ---- data outputs ----------------------------------------------------------------------------------

void CaptureDataOutput::setSampleBufferDelegate(CaptureSampleBufferDelegate* delegate, std::shared_ptr<DispatchQueue> queue) {
  std::lock_guard wait(m_target->delivering);
  std::lock_guard lock(m_target->mutex);
  m_target->delegate = delegate;
  m_target->queue = delegate ? std::move(queue) : nullptr;
}

CaptureSampleBufferDelegate* CaptureDataOutput::sampleBufferDelegate() const {
  std::lock_guard lock(m_target->mutex);
  return m_target->delegate;
}

std::shared_ptr<DispatchQueue> CaptureDataOutput::sampleBufferCallbackQueue() const {
  std::lock_guard lock(m_target->mutex);
  return m_target->queue;
}

bool CaptureDataOutput::hasDelegate() const {
  std::lock_guard lock(m_target->mutex);
  return m_target->delegate && m_target->queue;
}

void CaptureDataOutput::deliver(const std::shared_ptr<CaptureDataOutput>& self, const SampleBufferRef& buffer,
                                bool dropWhenBusy) {
  std::shared_ptr<Target> target = self->m_target;
  std::shared_ptr<DispatchQueue> queue;
  {
    std::lock_guard lock(target->mutex);
    if (!target->delegate || !target->queue) return;
    queue = target->queue;
    if (dropWhenBusy && target->pending.load() > 0) {
      CaptureSampleBufferDelegate* delegate = target->delegate;
      const MediaTime t = buffer->presentationTimeStamp();
      queue->async([self, target, delegate, t] {
        std::lock_guard running(target->delivering);
        CaptureSampleBufferDelegate* current = nullptr;
        {
          std::lock_guard lock(target->mutex);
          current = target->delegate;
        }
        if (current == delegate && delegate) delegate->captureOutputDidDrop(self.get(), t);
      });
      return;
    }
    target->pending.fetch_add(1);
  }
  queue->async([self, target, buffer] {
    // The reader never waits for a delegate: it only takes the short field lock.
    std::lock_guard running(target->delivering);
    CaptureSampleBufferDelegate* delegate = nullptr;
    {
      std::lock_guard lock(target->mutex);
      delegate = target->delegate;
    }
    if (delegate) delegate->captureOutput(self.get(), buffer);
    target->pending.fetch_sub(1);
  });
}

void CaptureVideoDataOutput::setVideoSettings(int pixelFormat, QSize size) {
  std::lock_guard lock(m_settingsMutex);
  m_pixelFormat = pixelFormat;
  m_size = size;
}

int CaptureVideoDataOutput::pixelFormat() const {
  std::lock_guard lock(m_settingsMutex);
  return m_pixelFormat;
}

QSize CaptureVideoDataOutput::outputSize() const {
  std::lock_guard lock(m_settingsMutex);
  return m_size;
}

void CaptureAudioDataOutput::setAudioSettings(CaptureAudioSampleFormat format, int sampleRate, int channels) {
  std::lock_guard lock(m_settingsMutex);
  m_format = format;
  m_rate = std::max(0, sampleRate);
  m_channels = std::max(0, channels);
}

CaptureAudioSampleFormat CaptureAudioDataOutput::sampleFormat() const {
  std::lock_guard lock(m_settingsMutex);
  return m_format;
}

int CaptureAudioDataOutput::sampleRate() const {
  std::lock_guard lock(m_settingsMutex);
  return m_rate;
}

int CaptureAudioDataOutput::channelCount() const {
  std::lock_guard lock(m_settingsMutex);
  return m_channels;
}

// ---- the session -------------------------------------------------------------------------------------

struct CaptureSession::Private {
  CaptureSession* owner = nullptr;
  mutable std::mutex mutex;
  QString preset = QString::fromLatin1(kCaptureSessionPresetHigh);
  std::vector<CaptureDeviceInputRef> inputs;
  std::vector<CaptureOutputRef> outputs;
  int configurationDepth = 0;
  bool inputsChanged = false;
  bool running = false;
  // startRunning opens the devices outside the lock; a stop meanwhile interrupts those opens.
  bool starting = false;
  bool stoppedWhileStarting = false;
  std::vector<CaptureReader*> opening;
  QString lastError;
  std::vector<std::unique_ptr<CaptureReader>> readers;
  std::shared_ptr<CaptureReader::Shared> shared = std::make_shared<CaptureReader::Shared>();

  // Opens and starts a reader for every input that opens.
  void startReaders(std::vector<QString>* errors, std::vector<QString>* failedIDs);
  void stopReaders();
  // Notes changed inputs; outside a configuration a running session's readers start again on them at once.
  void inputsDidChange();
};

void CaptureSession::Private::inputsDidChange() {
  inputsChanged = true;
  if (configurationDepth == 0 && running) {
    inputsChanged = false;
    std::vector<QString> errors, failed;
    stopReaders();
    startReaders(&errors, &failed);
  }
}

CaptureSession::CaptureSession() : d(std::make_shared<Private>()) {
  d->owner = this;
  d->shared->owner = this;
}

CaptureSession::~CaptureSession() {
  std::lock_guard lock(d->mutex);
  d->stopReaders();
  d->running = false;
}

void CaptureSession::beginConfiguration() {
  std::lock_guard lock(d->mutex);
  ++d->configurationDepth;
}

void CaptureSession::commitConfiguration() {
  std::vector<QString> errors, failed;
  {
    std::lock_guard lock(d->mutex);
    if (d->configurationDepth > 0) --d->configurationDepth;
    if (d->configurationDepth > 0 || !d->inputsChanged) return;
    d->inputsChanged = false;
    if (!d->running) return;
    // Changed inputs of a running session: the readers start again on the new set.
    d->stopReaders();
    d->startReaders(&errors, &failed);
  }
  for (size_t i = 0; i < errors.size(); ++i) CaptureReader::PostRuntimeError(this, errors[i], failed[i]);
}

QString CaptureSession::sessionPreset() const {
  std::lock_guard lock(d->mutex);
  return d->preset;
}

bool CaptureSession::canSetSessionPreset(const QString& preset) const {
  return preset == QLatin1String(kCaptureSessionPresetHigh) || preset == QLatin1String(kCaptureSessionPresetMedium) ||
         preset == QLatin1String(kCaptureSessionPreset1280x720) ||
         preset == QLatin1String(kCaptureSessionPreset1920x1080);
}

void CaptureSession::setSessionPreset(const QString& preset) {
  if (!canSetSessionPreset(preset)) return;
  std::lock_guard lock(d->mutex);
  d->preset = preset;
  d->shared->preset = preset;
}

bool CaptureSession::canAddInput(const CaptureDeviceInputRef& input) const {
  if (!input || !input->device() || !input->device()->isConnected()) return false;
  std::lock_guard lock(d->mutex);
  for (const auto& in : d->inputs) {
    if (in == input || in->device()->mediaType() == input->device()->mediaType()) return false;
  }
  return true;
}

void CaptureSession::addInput(const CaptureDeviceInputRef& input) {
  if (!canAddInput(input)) return;
  std::lock_guard lock(d->mutex);
  d->inputs.push_back(input);
  d->inputsDidChange();
}

void CaptureSession::removeInput(const CaptureDeviceInputRef& input) {
  std::lock_guard lock(d->mutex);
  const auto before = d->inputs.size();
  std::erase(d->inputs, input);
  if (before == d->inputs.size()) return;
  d->inputsDidChange();
}

std::vector<CaptureDeviceInputRef> CaptureSession::inputs() const {
  std::lock_guard lock(d->mutex);
  return d->inputs;
}

bool CaptureSession::canAddOutput(const CaptureOutputRef& output) const {
  if (!output || (output->m_session && output->m_session != this)) return false;
  std::lock_guard lock(d->mutex);
  return std::find(d->outputs.begin(), d->outputs.end(), output) == d->outputs.end();
}

void CaptureSession::addOutput(const CaptureOutputRef& output) {
  if (!canAddOutput(output)) return;
  std::lock_guard lock(d->mutex);
  output->m_session = this;
  d->outputs.push_back(output);
  d->shared->setOutputs(d->outputs);
}

void CaptureSession::removeOutput(const CaptureOutputRef& output) {
  std::lock_guard lock(d->mutex);
  if (std::find(d->outputs.begin(), d->outputs.end(), output) == d->outputs.end()) return;
  std::erase(d->outputs, output);
  output->m_session = nullptr;
  d->shared->setOutputs(d->outputs);
  if (auto preview = std::dynamic_pointer_cast<CaptureAudioPreviewOutput>(output)) preview->stop();
}

std::vector<CaptureOutputRef> CaptureSession::outputs() const {
  std::lock_guard lock(d->mutex);
  return d->outputs;
}

namespace {
// A reader for every input, not opened yet.
std::vector<std::unique_ptr<CaptureReader>> U_MakeReaders(const std::vector<CaptureDeviceInputRef>& inputs,
                                                          const std::shared_ptr<CaptureReader::Shared>& shared) {
  std::vector<std::unique_ptr<CaptureReader>> readers;
  for (const auto& input : inputs) readers.push_back(std::make_unique<CaptureReader>(input->device(), shared));
  return readers;
}

// Opens every reader; those that fail leave their text and their input's device in errors and failedIDs.
void U_OpenReaders(const std::vector<std::unique_ptr<CaptureReader>>& readers, const std::vector<CaptureDeviceInputRef>& inputs,
                   std::vector<QString>* errors, std::vector<QString>* failedIDs) {
  for (size_t i = 0; i < readers.size(); ++i) {
    QString error;
    if (readers[i]->open(&error)) continue;
    errors->push_back(error);
    failedIDs->push_back(inputs[i]->device()->uniqueID());
  }
}
}  // namespace

void CaptureSession::Private::startReaders(std::vector<QString>* errors, std::vector<QString>* failedIDs) {
  std::vector<std::unique_ptr<CaptureReader>> opened = U_MakeReaders(inputs, shared);
  U_OpenReaders(opened, inputs, errors, failedIDs);
  for (auto& reader : opened) {
    if (!reader->isOpen()) continue;
    reader->start();
    readers.push_back(std::move(reader));
  }
}

void CaptureSession::Private::stopReaders() {
  for (auto& reader : readers) reader->requestStop();
  readers.clear();  // each reader joins its thread and closes its device
}

void CaptureSession::startRunning() {
  std::vector<std::unique_ptr<CaptureReader>> readers;
  std::vector<CaptureDeviceInputRef> inputs;
  {
    std::lock_guard lock(d->mutex);
    if (d->running || d->starting) return;
    d->lastError.clear();
    d->starting = true;
    d->stoppedWhileStarting = false;
    inputs = d->inputs;
    readers = U_MakeReaders(inputs, d->shared);
    for (const auto& reader : readers) d->opening.push_back(reader.get());
  }
  // A device can take seconds to open (or never return): the session's lock is not held meanwhile, so
  // a stop, or a question about the session, does not wait for it.
  std::vector<QString> errors, failed;
  U_OpenReaders(readers, inputs, &errors, &failed);
  bool started = false;
  {
    std::lock_guard lock(d->mutex);
    d->opening.clear();
    d->starting = false;
    if (d->stoppedWhileStarting) {
      // Given up: what failed then was interrupted, not broken.
      errors.clear();
      failed.clear();
    } else if (!errors.empty()) {
      // A session runs with all its inputs or not at all: a recording must not start without its camera.
      d->lastError = errors.back();
    } else if (!readers.empty()) {
      for (auto& reader : readers) reader->start();
      d->readers = std::move(readers);
      d->running = true;
      started = true;
    }
  }
  readers.clear();  // the devices of a start that did not happen close here
  for (size_t i = 0; i < errors.size(); ++i) {
    Platform_Log("capture session: %@", errors[i]);
    CaptureReader::PostRuntimeError(this, errors[i], failed[i]);
  }
  if (started) NotificationCenter::defaultCenter().post(QString::fromLatin1(kCaptureSessionDidStartRunningNotification), this);
}

void CaptureSession::stopRunning() {
  std::vector<CaptureOutputRef> outs;
  {
    std::lock_guard lock(d->mutex);
    if (d->starting) {
      // The start under way gives up once its opens return; those that can be interrupted are.
      d->stoppedWhileStarting = true;
      for (CaptureReader* reader : d->opening) reader->requestStop();
      return;
    }
    if (!d->running) return;
    d->stopReaders();
    d->running = false;
    outs = d->outputs;
  }
  for (const auto& out : outs)
    if (auto preview = std::dynamic_pointer_cast<CaptureAudioPreviewOutput>(out)) preview->stop();
  NotificationCenter::defaultCenter().post(QString::fromLatin1(kCaptureSessionDidStopRunningNotification), this);
}

bool CaptureSession::isRunning() const {
  std::lock_guard lock(d->mutex);
  return d->running;
}

QString CaptureSession::lastErrorText() const {
  std::lock_guard lock(d->mutex);
  QString fromReaders = d->shared->lastError();
  return fromReaders.isEmpty() ? d->lastError : fromReaders;
}

int CaptureSession::addPreviewSink(std::function<void(const PreviewPicture&)> handler, int maxWidth) {
  return d->shared->addPreviewSink(std::move(handler), maxWidth);
}

void CaptureSession::setPreviewSinkMaxWidth(int id, int maxWidth) { d->shared->setPreviewSinkMaxWidth(id, maxWidth); }

void CaptureSession::removePreviewSink(int id) { d->shared->removePreviewSink(id); }

std::shared_ptr<CaptureDeviceInput> CaptureDeviceInput::deviceInputWithDevice(const CaptureDeviceRef& device, QString* error) {
  if (!device) {
    if (error) *error = QStringLiteral("No device was given.");
    return nullptr;
  }
  if (!device->isConnected()) {
    if (error) *error = Fmt("The device '%@' is no longer connected.", device->localizedName());
    return nullptr;
  }
  return std::make_shared<CaptureDeviceInput>(device);
}
