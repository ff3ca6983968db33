#include "platform/media/capture/CaptureReader.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/media/capture/VirtualDevices.h"
#include "platform/media/io/FFmpegCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <set>
#include <utility>

static_assert(AV_PIX_FMT_BGRA == 28, "the video data output's default pixel format is BGRA");

namespace {

// The devices a reader of this process holds open. Never destroyed: a reader let go on its own thread
// gives its device up when that thread ends, which no exit handler may have preceded.
std::mutex& BusyMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::set<QString>& DevicesInUse() {
  static auto* devices = new std::set<QString>;
  return *devices;
}

// The preview thread, made when first needed. Never destroyed by an exit handler: the end of the process
// finishes it (FinishPreviews) before main returns, and a later use makes a new one.
std::mutex& PreviewQueueMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::shared_ptr<DispatchQueue>& PreviewQueueSlot() {
  static auto* queue = new std::shared_ptr<DispatchQueue>;
  return *queue;
}
std::shared_ptr<DispatchQueue> PreviewQueue() {
  std::lock_guard lock(PreviewQueueMutex());
  std::shared_ptr<DispatchQueue>& queue = PreviewQueueSlot();
  if (!queue) queue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.capture.preview"));
  return queue;
}

void SetOption(FFmpegOptions& opts, const char* key, const QString& value) { opts.set(key, value.toUtf8().constData()); }

bool RangeCovers(const FrameRateRange& r, double rate) { return r.minFrameRate <= rate && rate <= r.maxFrameRate; }

}  // namespace

namespace {
struct Conversions {
  std::map<const CaptureOutput*, FFmpegFrameScaler> scales;
  std::map<const CaptureOutput*, FFmpegFramePool> pools;
  std::map<const CaptureOutput*, FFmpegResampler> resamples;
};
}  // namespace

class CaptureReader::Input {
 public:
  Input(CaptureDeviceRef device, std::shared_ptr<Shared> shared);
  // Closes the device before giving it up, so that the next reader finds it free.
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  bool open(QString* error);
  bool isOpen() const { return bool(m_input); }
  void requestStop() { m_stop.store(true); }
  // The reading thread's work: reads until stopped.
  void read();

 private:
  // The steps of open().
  bool claimDevice(QString* error);
  bool chooseFormat(QString* error);
  bool inputOptions(FFmpegOptions* opts, QString* url, QString* error);
  bool openInput(const QString& url, FFmpegOptions* opts, QString* error);
  bool openDecoder(QString* error);
  void handleVideo(AVFrame* frame, const MediaTime& arrival);
  void handleAudio(AVFrame* frame, const MediaTime& arrival);
  static int InterruptCallback(void* opaque);

  CaptureDeviceRef m_device;
  std::shared_ptr<Shared> m_shared;
  CaptureDeviceFormatRef m_format;
  double m_frameRate = 0;
  FFmpegInputPtr m_input;
  FFmpegCodecPtr m_decoder;
  int m_streamIndex = -1;
  bool m_holdsDevice = false;
  std::atomic<bool> m_stop{false};
  Conversions m_conv;
  // Audio time line: host time of the first sample and samples since then.
  bool m_audioAnchored = false;
  int64_t m_audioAnchorNanos = 0;
  int64_t m_audioSamples = 0;
};

// ---- shared state ---------------------------------------------------------------------------------

void CaptureReader::Shared::setOutputs(const std::vector<CaptureOutputRef>& outputs) {
  std::lock_guard lock(mutex);
  outputList = outputs;
}

std::vector<CaptureOutputRef> CaptureReader::Shared::outputs() const {
  std::lock_guard lock(mutex);
  return outputList;
}

int CaptureReader::Shared::addPreviewSink(std::function<void(const PreviewPicture&)> handler, int maxWidth) {
  std::lock_guard lock(mutex);
  const int id = nextSinkID++;
  sinks[id] = Sink{std::move(handler), maxWidth};
  return id;
}

void CaptureReader::Shared::setPreviewSinkMaxWidth(int id, int maxWidth) {
  std::lock_guard lock(mutex);
  if (auto it = sinks.find(id); it != sinks.end()) it->second.maxWidth = maxWidth;
}

void CaptureReader::Shared::removePreviewSink(int id) {
  {
    std::lock_guard lock(mutex);
    sinks.erase(id);
  }
  // A frame being converted for this sink may still be handed to it; waiting here makes sure the
  // sink's owner can go away once this returns.
  std::shared_ptr<DispatchQueue> queue;
  {
    std::lock_guard lock(PreviewQueueMutex());
    queue = PreviewQueueSlot();
  }
  // No preview thread (none yet, or finished at the end): no frame is under way.
  if (queue && !queue->isCurrent()) queue->sync([] {});
}

bool CaptureReader::Shared::hasPreviewSinks() const {
  std::lock_guard lock(mutex);
  return !sinks.empty();
}

void CaptureReader::Shared::setLastError(const QString& text) {
  std::lock_guard lock(mutex);
  error = text;
}

QString CaptureReader::Shared::lastError() const {
  std::lock_guard lock(mutex);
  return error;
}

void CaptureReader::Shared::feedPreview(const AVFrame* frame) {
  std::map<int, Sink> current;
  {
    std::lock_guard lock(mutex);
    current = sinks;
  }
  int maxWidth = 0;
  for (const auto& [id, sink] : current) maxWidth = std::max(maxWidth, sink.maxWidth);
  if (current.empty() || frame->width <= 0 || frame->height <= 0) return;
  int w = frame->width, h = frame->height;
  if (maxWidth > 0 && w > maxWidth) {
    h = std::max(2, int(std::lround(double(h) * maxWidth / w)) & ~1);
    w = maxWidth & ~1;
  }
  // A new picture every time: the sinks keep the ones they were given.
  const PreviewPicture picture = previewScaler.previewPicture(frame, QSize(w, h));
  if (picture.isNull()) return;
  for (const auto& [id, sink] : current) {
    {
      std::lock_guard lock(mutex);
      if (!sinks.count(id)) continue;
    }
    sink.handler(picture);
  }
}

// ---- reader -----------------------------------------------------------------------------------------

CaptureReader::CaptureReader(CaptureDeviceRef device, std::shared_ptr<Shared> shared)
    : m_input(std::make_shared<Input>(std::move(device), std::move(shared))) {}

CaptureReader::~CaptureReader() {
  m_input->requestStop();
  // A notification observer of this reader's own thread may drop the session: the queue then ends on its
  // own. Its block holds the input, so it reads nothing freed on its way out.
  m_queue.reset();
}

bool CaptureReader::open(QString* error) { return m_input->open(error); }

bool CaptureReader::isOpen() const { return m_input->isOpen(); }

void CaptureReader::start() {
  if (!m_input->isOpen() || m_queue) return;
  m_queue = std::make_unique<DispatchQueue>(QStringLiteral("org.velmora.Velmora.capture.reader"));
  m_queue->async([input = m_input] { input->read(); });
}

void CaptureReader::requestStop() { m_input->requestStop(); }

bool CaptureReader::FinishPreviews(std::chrono::milliseconds limit) {
  std::shared_ptr<DispatchQueue> queue;
  {
    std::lock_guard lock(PreviewQueueMutex());
    queue = std::exchange(PreviewQueueSlot(), nullptr);
  }
  return !queue || queue->finish(limit);
}

CaptureReader::Input::Input(CaptureDeviceRef device, std::shared_ptr<Shared> shared)
    : m_device(std::move(device)), m_shared(std::move(shared)) {}

CaptureReader::Input::~Input() {
  m_decoder.reset();
  m_input.reset();
  if (m_holdsDevice) {
    std::lock_guard lock(BusyMutex());
    DevicesInUse().erase(m_device->uniqueID());
  }
}

int CaptureReader::Input::InterruptCallback(void* opaque) {
  auto* self = static_cast<Input*>(opaque);
  return (self->m_stop.load() || !self->m_device->isConnected()) ? 1 : 0;
}

CaptureDeviceFormatRef CaptureReader::FormatForPreset(const CaptureDevice& device, const QString& preset) {
  const auto& formats = device.formats();
  if (formats.empty()) return nullptr;
  if (device.mediaType() == MediaType::Audio) {
    for (const auto& f : formats)
      if (f->sampleRate == 48000) return f;
    return formats.front();
  }
  QSize wanted;
  if (preset == QLatin1String(kCaptureSessionPreset1280x720)) wanted = QSize(1280, 720);
  if (preset == QLatin1String(kCaptureSessionPreset1920x1080)) wanted = QSize(1920, 1080);
  if (preset == QLatin1String(kCaptureSessionPresetMedium)) wanted = QSize(640, 480);
  if (wanted.isValid()) {
    for (const auto& f : formats)
      if (f->dimensions == wanted && !f->nativeFormat.isEmpty()) return f;
  }
  // High: the largest picture the device gives (the first format of that size).
  CaptureDeviceFormatRef best;
  for (const auto& f : formats) {
    if (f->nativeFormat.isEmpty()) continue;
    const qint64 area = qint64(f->dimensions.width()) * f->dimensions.height();
    if (!best || area > qint64(best->dimensions.width()) * best->dimensions.height()) best = f;
  }
  return best ? best : formats.front();
}

double CaptureReader::FrameRateFor(const CaptureDevice& device, const CaptureDeviceFormat& format) {
  const MediaTime minDuration = device.activeVideoMinFrameDuration();
  if (minDuration.isNumeric() && minDuration.value > 0) return double(minDuration.timescale) / double(minDuration.value);
  const auto& ranges = format.videoSupportedFrameRateRanges;
  for (const auto& r : ranges)
    if (RangeCovers(r, 30)) return 30;
  double best = 0;
  for (const auto& r : ranges) best = std::max(best, r.maxFrameRate);
  return best > 0 ? best : 30;
}

void CaptureReader::PostRuntimeError(CaptureSession* session, const QString& text, const QString& uniqueID) {
  QVariantMap info;
  info.insert(QStringLiteral("error"), text);
  info.insert(QStringLiteral("uniqueID"), uniqueID);
  NotificationCenter::defaultCenter().post(QString::fromLatin1(kCaptureSessionRuntimeErrorNotification), session, info);
}

bool CaptureReader::Input::open(QString* error) {
  static std::once_flag once;
  std::call_once(once, [] { avdevice_register_all(); });
  FFmpegOptions opts;
  QString url;
  if (!claimDevice(error) || !chooseFormat(error) || !inputOptions(&opts, &url, error) ||
      !openInput(url, &opts, error) || !openDecoder(error))
    return false;
  if (m_device->mediaType() == MediaType::Video)
    Platform_Log("capture: opened %@ as %@ at %.2lf fps", m_device->description(), m_format->description(), m_frameRate);
  else
    Platform_Log("capture: opened %@ as %@", m_device->description(), m_format->description());
  return true;
}

// One reader of this process per device at a time.
bool CaptureReader::Input::claimDevice(QString* error) {
  const QString name = m_device->localizedName();
  if (!m_device->isConnected()) {
    *error = Fmt("The device '%@' is no longer connected.", name);
    return false;
  }
  std::lock_guard lock(BusyMutex());
  if (DevicesInUse().count(m_device->uniqueID())) {
    *error = Fmt("The device '%@' is in use by another capture session: %@", name, FFmpeg_ErrorText(AVERROR(EBUSY)));
    return false;
  }
  DevicesInUse().insert(m_device->uniqueID());
  m_holdsDevice = true;
  return true;
}

bool CaptureReader::Input::chooseFormat(QString* error) {
  m_format = m_device->activeFormat();
  if (!m_format) m_format = FormatForPreset(*m_device, m_shared->preset);
  if (!m_format) {
    *error = Fmt("The device '%@' offers no format to capture.", m_device->localizedName());
    return false;
  }
  if (m_device->mediaType() == MediaType::Video) m_frameRate = FrameRateFor(*m_device, *m_format);
  return true;
}

// What libavdevice is told to open: the device's address (a source graph for a virtual device) and
// the format it is asked for.
bool CaptureReader::Input::inputOptions(FFmpegOptions* opts, QString* url, QString* error) {
  *url = m_device->inputURL();
  switch (m_device->kind()) {
    case CaptureDeviceKind::Virtual:
      *url = VirtualDevices_SourceGraph(*m_device, *m_format, m_frameRate);
      break;
    case CaptureDeviceKind::V4L2: {
      SetOption(*opts, "video_size", Fmt("%dx%d", m_format->dimensions.width(), m_format->dimensions.height()));
      const MediaTime d = m_device->activeVideoMinFrameDuration();
      if (d.isNumeric() && d.value > 0)
        SetOption(*opts, "framerate", Fmt("%d/%lld", d.timescale, static_cast<long long>(d.value)));
      else
        SetOption(*opts, "framerate", Fmt("%lld/1000", static_cast<long long>(std::llround(m_frameRate * 1000))));
      if (!m_format->nativeFormat.isEmpty()) SetOption(*opts, "input_format", m_format->nativeFormat);
      break;
    }
    case CaptureDeviceKind::PulseAudio:
    case CaptureDeviceKind::Alsa:
      SetOption(*opts, "sample_rate", QString::number(int(m_format->sampleRate)));
      SetOption(*opts, "channels", QString::number(std::max(1, m_format->channelCount)));
      if (m_device->kind() == CaptureDeviceKind::PulseAudio) {
        // About 20 ms per read keeps the monitor and the time stamps close to the sound.
        SetOption(*opts, "fragment_size", QString::number(int(m_format->sampleRate) / 50 * 2 * std::max(1, m_format->channelCount)));
      }
      break;
    case CaptureDeviceKind::Described:
      *error = Fmt("The device '%@' cannot be opened for capture.", m_device->localizedName());
      return false;
  }
  return true;
}

bool CaptureReader::Input::openInput(const QString& url, FFmpegOptions* opts, QString* error) {
  const QString name = m_device->localizedName();
  if (m_device->kind() == CaptureDeviceKind::Virtual && m_device->mediaType() == MediaType::Video) {
    // A virtual camera may be asked to be as slow to open as some real ones (and not to be interrupted).
    if (const int delay = VirtualDevices_CameraOpenDelayMillis(); delay > 0) {
      Platform_Log("capture: the camera '%@' takes %d ms to open", name, delay);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
  }
  const AVInputFormat* inputFormat = av_find_input_format(m_device->inputFormatName().toUtf8().constData());
  if (!inputFormat) {
    *error = Fmt("The device '%@' needs the capture backend '%@', which is not available.", name, m_device->inputFormatName());
    return false;
  }
  AVFormatContext* input = avformat_alloc_context();
  if (!input) {
    *error = Fmt("Could not open the device '%@': %@", name, FFmpeg_ErrorText(AVERROR(ENOMEM)));
    return false;
  }
  input->interrupt_callback.callback = &Input::InterruptCallback;
  input->interrupt_callback.opaque = this;
  // On failure avformat_open_input frees the context itself.
  const int r = avformat_open_input(&input, url.toUtf8().constData(), inputFormat, opts->address());
  if (r < 0) {
    *error = Fmt("Could not open the device '%@': %@", name, FFmpeg_ErrorText(r));
    return false;
  }
  m_input.reset(input);
  return true;
}

bool CaptureReader::Input::openDecoder(QString* error) {
  const QString name = m_device->localizedName();
  const bool video = m_device->mediaType() == MediaType::Video;
  m_streamIndex = av_find_best_stream(m_input.get(), video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (m_streamIndex < 0) {
    *error = Fmt("The device '%@' delivers no %@ stream.", name, video ? "video" : "audio");
    return false;
  }
  const AVStream* stream = m_input->streams[m_streamIndex];
  int r = 0;
  m_decoder = FFmpeg_OpenDecoder(stream, true, &r);
  if (r == AVERROR_DECODER_NOT_FOUND) {
    *error = Fmt("No decoder for what the device '%@' delivers (%@).", name, avcodec_get_name(stream->codecpar->codec_id));
    return false;
  }
  if (!m_decoder) {
    *error = Fmt("Could not decode what the device '%@' delivers: %@", name, FFmpeg_ErrorText(r));
    return false;
  }
  return true;
}

void CaptureReader::Input::read() {
  const FFmpegFramePtr frameHandle = FFmpeg_MakeFrame();
  AVFrame* frame = frameHandle.get();
  FFmpegFrameDecoder frames;
  // Each picture leaves the one-thread decoder with the packet that brought it: stamped with its arrival.
  MediaTime arrival = kMediaTimeInvalid;
  frames.setPacketHandler([&arrival](const AVPacket*) { arrival = HostClock_Now(); });
  int r = frame && frames.start(m_input.get(), m_streamIndex, m_decoder.get(), FFmpegFrameDecoder::Source::Live)
              ? 0
              : AVERROR(ENOMEM);
  const bool video = m_device->mediaType() == MediaType::Video;
  while (r >= 0 && !m_stop.load()) {
    if (!m_device->isConnected()) break;
    r = frames.next(frame);
    if (r == AVERROR(EAGAIN)) {
      r = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    if (r < 0) break;
    if (video)
      handleVideo(frame, arrival);
    else
      handleAudio(frame, arrival);
    av_frame_unref(frame);
  }
  if (r < 0 && !m_stop.load() && m_device->isConnected()) {
    const QString text = Fmt("Capture from the device '%@' stopped: %@", m_device->localizedName(), FFmpeg_ErrorText(r));
    m_shared->setLastError(text);
    Platform_Log("capture: %@", text);
    PostRuntimeError(m_shared->owner, text, m_device->uniqueID());
  }
  if (!m_stop.load() && !m_device->isConnected()) {
    const QString text = Fmt("The device '%@' was disconnected.", m_device->localizedName());
    m_shared->setLastError(text);
    Platform_Log("capture: %@", text);
    QVariantMap info;
    info.insert(QStringLiteral("uniqueID"), m_device->uniqueID());
    NotificationCenter::defaultCenter().post(QString::fromLatin1(kCaptureSessionWasInterruptedNotification), m_shared->owner, info);
    PostRuntimeError(m_shared->owner, text, m_device->uniqueID());
  }
}

void CaptureReader::Input::handleVideo(AVFrame* frame, const MediaTime& arrival) {
  const MediaTime duration = MediaTimeMakeWithSeconds(1.0 / (m_frameRate > 0 ? m_frameRate : 30), kHostClockTimescale);
  // One converted buffer per distinct setting, shared by the outputs that ask for the same.
  std::map<std::tuple<int, int, int>, SampleBufferRef> made;
  for (const CaptureOutputRef& out : m_shared->outputs()) {
    auto output = std::dynamic_pointer_cast<CaptureVideoDataOutput>(out);
    if (!output || !output->hasDelegate()) continue;
    const int wantFormat = output->pixelFormat();
    QSize size = output->outputSize();
    if (!size.isValid() || size.isEmpty()) size = QSize(frame->width, frame->height);
    const auto key = std::make_tuple(wantFormat, size.width(), size.height());
    SampleBufferRef buffer;
    if (auto it = made.find(key); it != made.end()) {
      buffer = it->second;
    } else if (wantFormat < 0 || (wantFormat == frame->format && size == QSize(frame->width, frame->height))) {
      buffer = std::make_shared<SampleBuffer>(MediaType::Video, FFmpeg_CloneFrame(frame), arrival, duration);
    } else {
      FFmpegFrameScaler& scaler = m_conv.scales.try_emplace(output.get(), FFmpegScaleQuality::Bilinear).first->second;
      FFmpegFramePtr dst = m_conv.pools[output.get()].frame(wantFormat, size.width(), size.height());
      // A picture that cannot be had or converted is not delivered; the next one may be.
      if (!dst || scaler.scale(frame, dst.get()) < 0) continue;
      buffer = std::make_shared<SampleBuffer>(MediaType::Video, std::move(dst), arrival, duration);
    }
    made[key] = buffer;
    CaptureDataOutput::deliver(output, buffer, output->alwaysDiscardsLateVideoFrames());
  }
  if (m_shared->hasPreviewSinks() && !m_shared->previewBusy.exchange(true)) {
    std::shared_ptr<AVFrame> copy = FFmpeg_CloneFrame(frame);
    auto shared = m_shared;
    PreviewQueue()->async([shared, copy] {
      if (copy) shared->feedPreview(copy.get());
      shared->previewBusy.store(false);
    });
  }
}

void CaptureReader::Input::handleAudio(AVFrame* frame, const MediaTime& arrival) {
  const int rate = frame->sample_rate > 0 ? frame->sample_rate : int(m_format->sampleRate);
  if (rate <= 0 || frame->nb_samples <= 0) return;
  // The samples of a block were taken before it arrived: its first sample is one block earlier.
  // Following blocks continue the sample count, so the time line has no jitter; a gap of more than
  // 200 ms (an overrun) starts it again from the clock.
  const int64_t arrivalNanos = MediaTimeConvertScale(arrival, kHostClockTimescale).value;
  const int64_t blockNanos = int64_t(frame->nb_samples) * 1000000000LL / rate;
  int64_t startNanos = m_audioAnchorNanos + m_audioSamples * 1000000000LL / rate;
  if (!m_audioAnchored || std::llabs(arrivalNanos - blockNanos - startNanos) > 200000000LL) {
    m_audioAnchored = true;
    m_audioAnchorNanos = arrivalNanos - blockNanos;
    m_audioSamples = 0;
    startNanos = m_audioAnchorNanos;
  }
  m_audioSamples += frame->nb_samples;
  const MediaTime pts = MediaTimeMake(startNanos, kHostClockTimescale);

  for (const CaptureOutputRef& out : m_shared->outputs()) {
    auto data = std::dynamic_pointer_cast<CaptureAudioDataOutput>(out);
    auto preview = std::dynamic_pointer_cast<CaptureAudioPreviewOutput>(out);
    if (!(data && data->hasDelegate()) && !preview) continue;
    int outFormat = AV_SAMPLE_FMT_S16;
    int outRate = rate;
    int outChannels = frame->ch_layout.nb_channels;
    if (data) {
      outFormat = data->sampleFormat() == CaptureAudioSampleFormat::Float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
      if (data->sampleRate() > 0) outRate = data->sampleRate();
      if (data->channelCount() > 0) outChannels = data->channelCount();
    }
    FFmpegFramePtr dst;
    if (outFormat == frame->format && outRate == rate && outChannels == frame->ch_layout.nb_channels) {
      dst = FFmpeg_CloneFrame(frame);
      if (!dst) continue;
    } else {
      FFmpegResampler& resampler = m_conv.resamples[out.get()];
      if (!resampler.prepare(frame, outFormat, outRate, outChannels)) continue;
      const int room = swr_get_out_samples(resampler.context(), frame->nb_samples);
      if (room <= 0 || !(dst = FFmpeg_MakeAudioFrame(outFormat, outRate, outChannels, room))) continue;
      const int got = resampler.convert(dst->data, dst->nb_samples, frame);
      if (got <= 0) continue;
      dst->nb_samples = got;
    }
    const int samples = dst->nb_samples;
    auto buffer = std::make_shared<SampleBuffer>(MediaType::Audio, std::move(dst), pts,
                                                 MediaTimeMake(int64_t(samples) * 1000000000LL / outRate, kHostClockTimescale));
    if (data)
      CaptureDataOutput::deliver(data, buffer, false);
    else
      preview->play(buffer);
  }
}
