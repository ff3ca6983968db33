#include "platform/media/player/PlayerItem.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/asset/FragmentedAsset.h"

#include <QSet>

#include <algorithm>
#include <utility>
#include <cmath>

namespace {
// While playing the item wakes when its next picture is due. Without one ready (the decoder reports
// each new picture) or without pictures at all, it wakes this often to keep time for its observers.
constexpr int kIdleTickMs = 20;
// Played backwards the pictures come in the other order: the old steady turn.
constexpr int kReverseTickMs = 4;
}  // namespace

PlayerItem::PlayerItem() {
  m_presentTimer.setTimerType(Qt::PreciseTimer);
  m_presentTimer.setSingleShot(true);
  connect(&m_presentTimer, &QTimer::timeout, this, [this] { U_Tick(); });
}

PlayerItem::~PlayerItem() {
  m_presentTimer.stop();
  // Stop the decoders before anything they report to goes away.
  m_video.reset();
  m_audio.reset();
}

std::shared_ptr<PlayerItem> PlayerItem::itemWithPath(const QString& moviePath) {
  return itemWithAsset(Asset::assetWithPath(moviePath));
}

std::shared_ptr<PlayerItem> PlayerItem::itemWithAsset(const AssetRef& asset) {
  std::shared_ptr<PlayerItem> item(new PlayerItem());
  item->m_asset = asset;
  item->m_growing = std::dynamic_pointer_cast<FragmentedAsset>(asset) != nullptr;
  std::weak_ptr<PlayerItem> weak = item;
  asset->loadValuesAsynchronouslyForKeys(
      {QString::fromLatin1(kAssetKeyTracks), QString::fromLatin1(kAssetKeyDuration)}, [weak] {
        if (auto item = weak.lock()) item->U_FinishLoadingAsset();
      });
  return item;
}

namespace {
std::vector<PlayerSegment> U_SegmentsOfTrack(const AssetTrackRef& track) {
  std::vector<PlayerSegment> segments;
  if (!track) return segments;
  for (const AssetTrackSegment& s : track->segments()) {
    PlayerSegment segment;
    if (!s.empty) segment.sourcePath = s.sourcePath;
    segment.sourceRange = s.timeMapping.source;
    segment.targetRange = s.timeMapping.target;
    segment.sourceByteLimit = s.sourceByteLimit;
    segments.push_back(segment);
  }
  return segments;
}
}  // namespace

void PlayerItem::U_FinishLoadingAsset() {
  QString error;
  if (m_asset->statusOfValueForKey(QString::fromLatin1(kAssetKeyTracks), &error) != KeyValueStatus::Loaded) {
    m_status = PlayerItemStatus::Failed;
    m_error = error.isEmpty() ? QStringLiteral("the movie cannot be read") : error;
    emit statusChanged();
    return;
  }
  const QList<AssetTrackRef> video = m_asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  const QList<AssetTrackRef> audio = m_asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  m_videoSegments = U_SegmentsOfTrack(video.value(0));
  m_audioSegments = U_SegmentsOfTrack(audio.value(0));
  m_duration = m_asset->duration();
  if (!m_duration.isNumeric()) m_duration = kMediaTimeZero;
  std::vector<MediaSourceInfo> infos;
  MediaSourceInfo info;
  info.ok = !m_videoSegments.empty() || !m_audioSegments.empty();
  info.hasVideo = !m_videoSegments.empty();
  info.hasAudio = !m_audioSegments.empty();
  if (info.hasVideo) {
    const QSizeF size = video.first()->naturalSize();
    info.videoSize = QSize(qRound(size.width()), qRound(size.height()));
    const float fps = video.first()->nominalFrameRate();
    info.frameDuration = fps > 0 ? MediaTimeMakeWithSeconds(1.0 / fps, 600000) : MediaTimeMake(1, 30);
    // A whole-number rate keeps exact picture times.
    if (fps > 0 && std::abs(fps - std::round(fps)) < 1e-3) info.frameDuration = MediaTimeMake(1, static_cast<int32_t>(std::round(fps)));
  }
  if (!info.ok) info.error = QStringLiteral("no audio or video");
  infos.push_back(info);
  U_FinishLoading(infos);
}

std::shared_ptr<PlayerItem> PlayerItem::itemWithSegments(std::vector<PlayerSegment> segments,
                                                         const MediaTime& duration) {
  std::shared_ptr<PlayerItem> item(new PlayerItem());
  MediaTime end = kMediaTimeZero;
  for (const PlayerSegment& segment : segments) end = MediaTimeMaximum(end, segment.targetRange.end());
  item->m_duration = duration.isNumeric() ? duration : end;
  item->m_videoSegments = segments;
  item->m_audioSegments = std::move(segments);
  std::weak_ptr<PlayerItem> weak = item;
  // Each file once, with the readable length its segments read it to.
  std::vector<std::pair<QString, int64_t>> sources;
  for (const PlayerSegment& segment : item->m_videoSegments) {
    const bool known = std::any_of(sources.begin(), sources.end(), [&](const auto& s) { return s.first == segment.sourcePath; });
    if (!segment.isEmpty() && !known) sources.emplace_back(segment.sourcePath, segment.sourceByteLimit);
  }
  Dispatch_GlobalAsync([weak, sources] {
    std::vector<MediaSourceInfo> infos;
    for (const auto& [path, byteLimit] : sources) infos.push_back(Decoder_ProbeFile(path, byteLimit));
    Dispatch_MainAsync([weak, infos] {
      if (auto item = weak.lock()) item->U_FinishLoading(infos);
    });
  });
  return item;
}

void PlayerItem::U_FinishLoading(const std::vector<MediaSourceInfo>& infos) {
  bool anyOk = false;
  for (const MediaSourceInfo& info : infos) {
    if (!info.ok) {
      if (m_error.isEmpty()) m_error = info.error;
      continue;
    }
    anyOk = true;
    if (info.hasVideo && !m_hasVideo) {
      m_presentationSize = info.videoSize;
      m_frameDuration = info.frameDuration;
    }
    m_hasVideo = m_hasVideo || info.hasVideo;
    m_hasAudio = m_hasAudio || info.hasAudio;
  }
  // A composition of nothing but empty ranges still plays (black and silence).
  const bool onlyEmpty = infos.empty() && !m_videoSegments.empty();
  if (!anyOk && !onlyEmpty) {
    m_status = PlayerItemStatus::Failed;
    if (m_error.isEmpty()) m_error = QStringLiteral("nothing to play");
    emit statusChanged();
    return;
  }
  if (m_hasVideo || onlyEmpty) {
    m_hasVideo = true;
    if (m_videoSegments.empty()) m_videoSegments = {PlayerSegment{QString(), kMediaTimeRangeZero, MediaTimeRangeMake(kMediaTimeZero, m_duration)}};
    m_video = std::make_unique<Decoder>(MediaType::Video, m_videoSegments);
    auto posted = m_tickPosted;
    std::weak_ptr<PlayerItem> weak = weak_from_this();
    m_video->setReadyHandler([weak, posted] {
      // Coalesce: one pending main-queue turn is enough however many pictures arrive.
      if (posted->exchange(true)) return;
      Dispatch_MainAsync([weak, posted] {
        posted->store(false);
        if (auto item = weak.lock()) item->U_Tick();
      });
    });
    m_needPicture = true;
    m_seekOpen = true;
  }
  m_status = PlayerItemStatus::ReadyToPlay;
  emit statusChanged();
  if (m_loadSeekTime.isValid()) {
    const MediaTime time = m_loadSeekTime;
    m_loadSeekTime = kMediaTimeInvalid;
    seekToTime(time, kMediaTimeZero, kMediaTimeZero, std::move(m_seekCompletion));
  }
}

bool PlayerItem::refreshFromAsset() {
  if (!m_growing || m_status != PlayerItemStatus::ReadyToPlay || !m_asset) return false;
  const MediaTime duration = m_asset->duration();
  if (!duration.isNumeric() || (m_duration.isNumeric() && MediaTimeCompare(duration, m_duration) <= 0)) return false;
  std::vector<PlayerSegment> video =
      U_SegmentsOfTrack(m_asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)).value(0));
  std::vector<PlayerSegment> audio =
      U_SegmentsOfTrack(m_asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio)).value(0));
  // Only the same tracks reaching further are taken up; a file that changed otherwise is not followed.
  auto sameTimeline = [](const std::vector<PlayerSegment>& now, const std::vector<PlayerSegment>& grown) {
    if (now.size() != grown.size()) return false;
    for (size_t i = 0; i < now.size(); ++i)
      if (now[i].sourcePath != grown[i].sourcePath) return false;
    return true;
  };
  if (!sameTimeline(m_videoSegments, video) || !sameTimeline(m_audioSegments, audio)) return false;
  m_videoSegments = std::move(video);
  m_audioSegments = std::move(audio);
  m_duration = duration;
  if (m_video) m_video->extendSegments(m_videoSegments);
  if (m_audio) m_audio->extendSegments(m_audioSegments);
  if (m_waitingForMore) {
    // The clock stood at the old end: it goes on from there now.
    m_waitingForMore = false;
    m_anchorHost = HostClock_Now();
  }
  emit durationChanged();
  return true;
}

MediaTime PlayerItem::currentTime() const {
  if (m_rate == 0.0f || m_waitingForPicture || m_waitingForMore) return m_anchorItem;
  const MediaTime now = HostClock_Now();
  if (MediaTimeCompare(now, m_anchorHost) <= 0) return m_anchorItem;
  MediaTime t = MediaTimeAdd(m_anchorItem, MediaTimeMultiplyByFloat64(MediaTimeSubtract(now, m_anchorHost), m_rate));
  t = MediaTimeConvertScale(t, 1000000);
  if (m_duration.isNumeric() && MediaTimeCompare(t, m_duration) > 0) t = m_duration;
  if (MediaTimeCompare(t, kMediaTimeZero) < 0) t = kMediaTimeZero;
  return t;
}

void PlayerItem::seekToTime(const MediaTime& time, SeekCompletion completion) {
  seekToTime(time, kMediaTimePositiveInfinity, kMediaTimePositiveInfinity, std::move(completion));
}

void PlayerItem::seekToTime(const MediaTime& time, const MediaTime& toleranceBefore, const MediaTime& toleranceAfter,
                            SeekCompletion completion) {
  (void)toleranceAfter;  // pictures are only ever taken at or before the target
  if (m_seekOpen && m_seekCompletion) {
    // A newer seek replaces one still under way; its caller hears that it did not finish.
    auto previous = std::move(m_seekCompletion);
    Dispatch_MainAsync([previous] { previous(false); });
  }
  m_seekCompletion = std::move(completion);
  if (m_status == PlayerItemStatus::Failed || !time.isValid()) {
    U_CompleteSeek(false);
    return;
  }
  if (m_status != PlayerItemStatus::ReadyToPlay) {
    m_loadSeekTime = time;
    return;
  }
  MediaTime target = MediaTimeMaximum(time, kMediaTimeZero);
  if (m_duration.isNumeric()) target = MediaTimeMinimum(target, m_duration);
  m_anchorItem = target;
  m_anchorHost = HostClock_Now();
  m_waitingForMore = false;
  m_stepsPending = 0;
  const bool exact = toleranceBefore.isNumeric() && MediaTimeCompare(toleranceBefore, kMediaTimeZero) == 0;
  m_snapToPicture = !exact && m_rate == 0.0f;
  if (m_audio) m_audio->seek(target, kMediaTimeZero);
  if (!m_video) {
    U_CompleteSeek(true);
    return;
  }
  m_video->seek(target, toleranceBefore);
  m_needPicture = true;
  m_seekOpen = true;
}

void PlayerItem::U_CompleteSeek(bool finished) {
  m_seekOpen = false;
  if (finished) emit timeJumped();
  if (auto completion = std::move(m_seekCompletion)) {
    m_seekCompletion = nullptr;
    Dispatch_MainAsync([completion, finished] { completion(finished); });
  }
}

void PlayerItem::stepByCount(int count) {
  if (m_status != PlayerItemStatus::ReadyToPlay || !m_video || count == 0) return;
  if (m_rate != 0.0f) {
    m_anchorItem = currentTime();
    m_rate = 0.0f;
    m_waitingForMore = false;
    m_presentTimer.stop();
    emit pausedByItem();
  }
  if (count > 0) {
    if (m_needPicture) {
      m_stepsPending += count;
    } else {
      m_stepsPending += count;
      U_Tick();
    }
    return;
  }
  // Backwards: an exact seek into the middle of the wanted picture, then the clock snaps onto its start.
  const MediaTime from = m_frame.picture || m_frame.itemTime.isValid() ? m_frame.itemTime : m_anchorItem;
  MediaTime target = MediaTimeSubtract(from, MediaTimeMultiplyByFloat64(m_frameDuration, -count - 0.5));
  if (MediaTimeCompare(target, kMediaTimeZero) < 0) target = kMediaTimeZero;
  seekToTime(target, kMediaTimeZero, kMediaTimeZero);
  m_snapToPicture = true;
}

void PlayerItem::U_SetRate(float rate, const MediaTime& time, const MediaTime& hostTime, bool waitForPicture) {
  const MediaTime startItem = time.isValid() ? time : currentTime();
  const MediaTime startHost = hostTime.isValid() ? hostTime : HostClock_Now();
  m_anchorItem = startItem;
  m_anchorHost = startHost;
  m_waitingForPicture = false;
  m_waitingForMore = false;
  m_rate = rate;
  if (rate != 0.0f && waitForPicture && m_needPicture && m_video) {
    // Hold the clock at the start until the picture to start on is decoded.
    m_waitingForPicture = true;
  }
  U_ScheduleTick();
}

void PlayerItem::U_ScheduleTick() {
  if (m_rate == 0.0f) {
    m_presentTimer.stop();
    return;
  }
  int ms = m_rate < 0.0f ? kReverseTickMs : kIdleTickMs;
  DecodedUnit unit;
  if (m_rate > 0.0f && m_video && !m_waitingForPicture && !m_needPicture && m_video->peek(unit)) {
    const double due = MediaTimeGetSeconds(MediaTimeSubtract(unit.itemTime, currentTime())) / double(m_rate);
    ms = std::clamp(int(std::ceil(due * 1000.0)), 1, 100);
  }
  m_presentTimer.start(ms);
}

Decoder* PlayerItem::U_AudioDecoder(const DecoderAudioFormat& format) {
  if (!m_hasAudio || m_status != PlayerItemStatus::ReadyToPlay) return nullptr;
  if (!m_audio || format.sampleRate != m_audioFormat.sampleRate || format.channels != m_audioFormat.channels) {
    m_audioFormat = format;
    m_audio = std::make_unique<Decoder>(MediaType::Audio, m_audioSegments, format);
  }
  m_audio->seek(currentTime(), kMediaTimeZero);
  return m_audio.get();
}

void PlayerItem::U_DropAudioDecoder() { m_audio.reset(); }

void PlayerItem::U_FollowClock(const MediaTime& heardTime) {
  if (m_rate == 0.0f || m_waitingForPicture || m_waitingForMore || !heardTime.isNumeric()) return;
  const double drift = MediaTimeGetSeconds(MediaTimeSubtract(heardTime, currentTime()));
  // The device's position is only known to a few milliseconds: follow it once the two part by more
  // than that, which keeps picture and sound well within one picture of each other.
  if (std::abs(drift) > 0.015) {
    m_anchorItem = heardTime;
    m_anchorHost = HostClock_Now();
  }
}

void PlayerItem::U_Tick() {
  if (m_status != PlayerItemStatus::ReadyToPlay) return;
  bool changed = false;
  bool seekDone = false;
  if (m_video) {
    DecodedUnit unit;
    while (m_video->peek(unit)) {
      if (m_needPicture) {
        m_video->pop(unit);
        m_frame = unit;
        m_needPicture = false;
        changed = true;
        seekDone = true;
        if (m_waitingForPicture) {
          // The clock starts now, on the picture it waited for.
          m_waitingForPicture = false;
          m_anchorHost = HostClock_Now();
        }
        continue;
      }
      if (m_stepsPending > 0) {
        m_video->pop(unit);
        m_frame = unit;
        m_anchorItem = unit.itemTime;
        --m_stepsPending;
        changed = true;
        if (m_stepsPending == 0) emit timeJumped();
        continue;
      }
      if (m_rate != 0.0f && !m_waitingForPicture && MediaTimeCompare(unit.itemTime, currentTime()) <= 0) {
        m_video->pop(unit);
        m_frame = unit;
        changed = true;
        continue;
      }
      break;
    }
    if (m_stepsPending > 0 && m_video->atEnd()) {
      m_stepsPending = 0;
      emit timeJumped();
    }
    if (m_needPicture && m_video->atEnd()) {
      // Nothing to show at the target (past the last picture): the seek is still done.
      m_needPicture = false;
      m_waitingForPicture = false;
      seekDone = true;
    }
  }
  if (changed) emit videoFrameChanged();
  if (seekDone && m_seekOpen) {
    if (m_snapToPicture && m_rate == 0.0f && m_frame.itemTime.isValid()) m_anchorItem = m_frame.itemTime;
    m_snapToPicture = false;
    U_CompleteSeek(true);
  }
  if (m_rate != 0.0f) {
    emit ticked();
    const MediaTime now = currentTime();
    const bool pastEnd = m_duration.isNumeric() && MediaTimeCompare(now, m_duration) >= 0;
    if (m_rate > 0.0f && pastEnd && m_growing) {
      // The end written so far: the clock waits there, still playing, until the movie grows.
      if (!m_waitingForMore) {
        m_anchorItem = m_duration;
        m_anchorHost = HostClock_Now();
        m_waitingForMore = true;
      }
    } else if (m_rate > 0.0f && pastEnd) {
      m_anchorItem = m_duration;
      m_rate = 0.0f;
      m_presentTimer.stop();
      emit didPlayToEnd();
      NotificationCenter::defaultCenter().post(QString::fromLatin1(kPlayerItemDidPlayToEndTimeNotification), this);
    }
  }
  U_ScheduleTick();
}
