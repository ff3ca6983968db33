#include "platform/media/export/ExportSession.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/foundation/SafeFile.h"
#include "platform/media/export/ExportSessionWork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <mutex>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

bool ExportSession_StartOutput(AVFormatContext* out, const QByteArray& path, QString* error) {
  // Never through a symbolic link put in the output's place.
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *error = QStringLiteral("The export file cannot be written: %1").arg(FFmpeg_ErrorText(AVERROR(errno)));
    return false;
  }
  FFmpegIOPtr io = FFmpeg_MakeFileWriteIO(fd);
  if (!io) {
    *error = QStringLiteral("The export file cannot be written: %1").arg(FFmpeg_ErrorText(AVERROR(ENOMEM)));
    return false;
  }
  out->pb = io.release();
  out->flags |= AVFMT_FLAG_CUSTOM_IO;
  // Whole blocks go to the file, not every packet on its own.
  out->flush_packets = 0;
  int rc = avformat_write_header(out, nullptr);
  if (rc < 0) {
    *error = QStringLiteral("The export file cannot be started: %1").arg(FFmpeg_ErrorText(rc));
    return false;
  }
  return true;
}

bool ExportSession_FinishOutput(AVFormatContext* out, QString* error) {
  int rc = av_write_trailer(out);
  if (rc >= 0) rc = FFmpeg_FinishWriteIO(out->pb);
  if (rc < 0) {
    *error = QStringLiteral("The export file cannot be finished: %1").arg(FFmpeg_ErrorText(rc));
    return false;
  }
  return true;
}

QList<AssetTrackSegment> ExportSession_SegmentsInRange(const AssetTrackRef& track, const MediaTimeRange& range) {
  QList<AssetTrackSegment> out;
  if (!track) return out;
  for (AssetTrackSegment seg : track->segments()) {
    const MediaTimeRange target = seg.timeMapping.target;
    const MediaTimeRange part = MediaTimeRangeGetIntersection(target, range);
    if (!part.duration.isNumeric() || part.duration <= kMediaTimeZero) continue;
    if (!seg.empty) {
      // Keep the source in step with the clipped target (scaled segments stretch proportionally).
      const double ratio = MediaTimeGetSeconds(seg.timeMapping.source.duration) /
                           std::max(1e-9, MediaTimeGetSeconds(target.duration));
      const MediaTime cutFront = part.start - target.start;
      const MediaTime srcStart =
          cutFront == kMediaTimeZero
              ? seg.timeMapping.source.start
              : seg.timeMapping.source.start + MediaTimeMakeWithSeconds(MediaTimeGetSeconds(cutFront) * ratio, 90000);
      const MediaTime srcLen = ratio == 1.0 ? part.duration
                                            : MediaTimeMakeWithSeconds(MediaTimeGetSeconds(part.duration) * ratio, 90000);
      seg.timeMapping.source = MediaTimeRangeMake(srcStart, srcLen);
    }
    seg.timeMapping.target = MediaTimeRangeMake(part.start - range.start, part.duration);
    out.append(seg);
  }
  return out;
}

AssetExportSession::AssetExportSession(const AssetRef& asset, const QString& presetName)
    : m_asset(asset),
      m_presetName(presetName),
      m_timeRange(MediaTimeRangeMake(kMediaTimeZero, kMediaTimePositiveInfinity)) {}

AssetExportSession::~AssetExportSession() = default;

QStringList AssetExportSession::allExportPresets() {
  return {QString::fromLatin1(AVAssetExportPresetPassthrough), QString::fromLatin1(AVAssetExportPresetHighestQuality)};
}

std::shared_ptr<AssetExportSession> AssetExportSession::exportSessionWithAsset(const AssetRef& asset,
                                                                               const QString& presetName) {
  if (!asset || !allExportPresets().contains(presetName)) return nullptr;
  return std::shared_ptr<AssetExportSession>(new AssetExportSession(asset, presetName));
}

QStringList AssetExportSession::supportedFileTypes() const {
  return {QString::fromLatin1(kExportFileTypeQuickTimeMovie), QString::fromLatin1(kExportFileTypeMPEG4),
          QString::fromLatin1(kExportFileTypeM4V)};
}

QUrl AssetExportSession::outputURL() const {
  std::lock_guard lock(m_mutex);
  return m_outputURL;
}
void AssetExportSession::setOutputURL(const QUrl& url) {
  std::lock_guard lock(m_mutex);
  m_outputURL = url;
}
QString AssetExportSession::outputFileType() const {
  std::lock_guard lock(m_mutex);
  return m_outputFileType;
}
void AssetExportSession::setOutputFileType(const QString& type) {
  std::lock_guard lock(m_mutex);
  m_outputFileType = type;
}
MediaTimeRange AssetExportSession::timeRange() const {
  std::lock_guard lock(m_mutex);
  return m_timeRange;
}
void AssetExportSession::setTimeRange(const MediaTimeRange& range) {
  std::lock_guard lock(m_mutex);
  m_timeRange = range;
}
MutableVideoCompositionRef AssetExportSession::videoComposition() const {
  std::lock_guard lock(m_mutex);
  return m_videoComposition;
}
void AssetExportSession::setVideoComposition(const MutableVideoCompositionRef& vc) {
  std::lock_guard lock(m_mutex);
  m_videoComposition = vc;
}
MutableAudioMixRef AssetExportSession::audioMix() const {
  std::lock_guard lock(m_mutex);
  return m_audioMix;
}
void AssetExportSession::setAudioMix(const MutableAudioMixRef& mix) {
  std::lock_guard lock(m_mutex);
  m_audioMix = mix;
}
QString AssetExportSession::error() const {
  std::lock_guard lock(m_mutex);
  return m_error;
}

namespace {
// Exports that have been started, so that termination can stop them all.
std::mutex gStartedMutex;
std::vector<std::weak_ptr<AssetExportSession>> gStarted;
}  // namespace

void AssetExportSession::cancelAllExports() {
  std::vector<std::shared_ptr<AssetExportSession>> sessions;
  {
    std::lock_guard lock(gStartedMutex);
    for (const auto& weak : gStarted)
      if (auto session = weak.lock()) sessions.push_back(std::move(session));
  }
  for (const auto& session : sessions) session->cancelExport();
}

void AssetExportSession::cancelExport() {
  m_cancelRequested.store(true);
  // A session that never started ends at once; a running one ends at its next packet.
  std::unique_lock lock(m_mutex);
  if (!m_started) {
    lock.unlock();
    int expected = int(AssetExportSessionStatus::Unknown);
    m_status.compare_exchange_strong(expected, int(AssetExportSessionStatus::Cancelled));
  }
}

void AssetExportSession::exportAsynchronouslyWithCompletionHandler(std::function<void()> handler) {
  {
    std::lock_guard lock(m_mutex);
    if (m_started) return;
    m_started = true;
    m_handler = std::move(handler);
  }
  {
    std::lock_guard lock(gStartedMutex);
    std::erase_if(gStarted, [](const std::weak_ptr<AssetExportSession>& weak) { return weak.expired(); });
    gStarted.push_back(weak_from_this());
  }
  if (m_cancelRequested.load()) {
    finish(AssetExportSessionStatus::Cancelled, QString());
    return;
  }
  m_status.store(int(AssetExportSessionStatus::Waiting));
  auto self = shared_from_this();
  Dispatch_GlobalAsync([self]() { self->run(); });
}

void AssetExportSession::finish(AssetExportSessionStatus status, const QString& error) {
  std::function<void()> handler;
  {
    std::lock_guard lock(m_mutex);
    m_error = status == AssetExportSessionStatus::Failed ? error : QString();
    handler = std::move(m_handler);
    m_handler = nullptr;
  }
  if (status == AssetExportSessionStatus::Completed) m_progress.store(1.0f);
  m_status.store(int(status));
  if (handler) handler();
}

void AssetExportSession::run() {
  if (m_cancelRequested.load()) {
    finish(AssetExportSessionStatus::Cancelled, QString());
    return;
  }
  m_status.store(int(AssetExportSessionStatus::Exporting));
  const QUrl url = outputURL();
  if (url.isEmpty() || !url.isLocalFile()) {
    finish(AssetExportSessionStatus::Failed, QStringLiteral("No output file was given for the export."));
    return;
  }
  const QString output = url.toLocalFile();
  if (SafeFile_NameTaken(output)) {
    finish(AssetExportSessionStatus::Failed, QStringLiteral("The file %1 already exists.").arg(output));
    return;
  }
  QString type = outputFileType();
  if (type.isEmpty())
    type = output.endsWith(QLatin1String(".mov"), Qt::CaseInsensitive) ? QString::fromLatin1(kExportFileTypeQuickTimeMovie)
                                                                        : QString::fromLatin1(kExportFileTypeMPEG4);
  if (!supportedFileTypes().contains(type)) {
    finish(AssetExportSessionStatus::Failed, QStringLiteral("The file type %1 cannot be written.").arg(type));
    return;
  }

  ExportSessionWork work;
  work.asset = m_asset;
  work.session = this;
  work.videoComposition = videoComposition();
  work.audioMix = audioMix();
  work.muxer = type == QLatin1String(kExportFileTypeQuickTimeMovie) ? QStringLiteral("mov") : QStringLiteral("mp4");

  const MediaTime assetDuration = m_asset->duration();
  MediaTimeRange range = timeRange();
  if (!range.start.isNumeric()) range.start = kMediaTimeZero;
  range.start = MediaTimeMaximum(range.start, kMediaTimeZero);
  MediaTime end = range.duration.isNumeric() ? range.end() : assetDuration;
  end = MediaTimeMinimum(end, assetDuration);
  if (!(end > range.start)) {
    finish(AssetExportSessionStatus::Failed,
           QStringLiteral("The time range to export lies outside the movie (%1 s long).")
               .arg(MediaTimeGetSeconds(assetDuration), 0, 'f', 3));
    return;
  }
  work.range = MediaTimeRangeFromTimeToTime(range.start, end);

  const QFileInfo info(output);
  work.path = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".") +
              QUuid::createUuid().toString(QUuid::Id128).left(8) + QStringLiteral(".part");

  QString error;
  const bool passThrough = m_presetName == QLatin1String(AVAssetExportPresetPassthrough);
  const bool ok = passThrough ? ExportSession_WritePassThrough(work, &error) : ExportSession_WriteEncoded(work, &error);
  if (!ok || m_cancelRequested.load()) {
    QFile::remove(work.path);
    if (m_cancelRequested.load()) finish(AssetExportSessionStatus::Cancelled, QString());
    else finish(AssetExportSessionStatus::Failed, error);
    return;
  }
  // Never replaces what appeared meanwhile under the output name (a file or a link).
  if (SafeFile_MoveNoReplace(work.path, output) != 0) {
    QFile::remove(work.path);
    finish(AssetExportSessionStatus::Failed, QStringLiteral("The export could not be moved to %1.").arg(output));
    return;
  }
  finish(AssetExportSessionStatus::Completed, QString());
}
