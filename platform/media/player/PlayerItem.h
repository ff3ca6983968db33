#pragma once
// A playable item: one movie file, or a list of segments (ranges of movie files placed at item times,
// empty ranges in between). The item owns the timebase that maps the host clock to item time, its
// decoders and the picture shown now. A Player drives the timebase's rate; the item never decides
// to play by itself.

#include "platform/foundation/MediaTime.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/asset/Decoder.h"
#include "platform/media/io/SampleBuffer.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// Values of status(), as callers compare them.
enum class PlayerItemStatus { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

// Posted with the item as object when playback reaches the item's end.
inline constexpr const char* kPlayerItemDidPlayToEndTimeNotification = "PlayerItemDidPlayToEndTimeNotification";

class PlayerItem : public QObject, public std::enable_shared_from_this<PlayerItem> {
  Q_OBJECT

 public:
  using SeekCompletion = std::function<void(bool finished)>;

  // The item loads on a worker; status() turns ReadyToPlay (or Failed) on the main queue.
  static std::shared_ptr<PlayerItem> itemWithPath(const QString& moviePath);
  // A movie file asset or a composition: pictures from its first video track, sound from its first
  // sound track, each track's segments mapping item time to source time.
  static std::shared_ptr<PlayerItem> itemWithAsset(const AssetRef& asset);
  // The same segments for pictures and sound; the item's duration is the end of the last one unless given.
  static std::shared_ptr<PlayerItem> itemWithSegments(std::vector<PlayerSegment> segments,
                                                      const MediaTime& duration = kMediaTimeInvalid);
  ~PlayerItem() override;

  PlayerItemStatus status() const { return m_status; }
  QString errorString() const { return m_error; }
  MediaTime duration() const { return m_duration; }
  // Item time now: the timebase's anchor moved on by the host clock at the current rate.
  MediaTime currentTime() const;
  AssetRef asset() const { return m_asset; }
  const std::vector<PlayerSegment>& videoSegments() const { return m_videoSegments; }
  const std::vector<PlayerSegment>& audioSegments() const { return m_audioSegments; }
  bool hasVideo() const { return m_hasVideo; }
  bool hasAudio() const { return m_hasAudio; }
  QSize presentationSize() const { return m_presentationSize; }
  // Length of one picture of the first source with video (1/30 s when unknown).
  MediaTime frameDuration() const { return m_frameDuration; }

  // Without tolerances the item may land on the nearest key frame; zero tolerances land exactly.
  void seekToTime(const MediaTime& time, SeekCompletion completion = {});
  void seekToTime(const MediaTime& time, const MediaTime& toleranceBefore, const MediaTime& toleranceAfter,
                  SeekCompletion completion = {});
  // Moves by whole pictures; the item must be paused (a playing item is paused first).
  void stepByCount(int count);

  // An item of a movie that is still being written (a fragmented asset) follows it: playing on, it
  // waits at the end written so far instead of ending there, and refreshFromAsset() takes up what the
  // asset has read since (a longer duration, more of the file), so that playback carries on into the new
  // part without a stop and without a seek. Answers whether the item grew.
  bool followsGrowingMovie() const { return m_growing; }
  bool refreshFromAsset();
  // True while a playing item waits at the end of a growing movie for more of it.
  bool isWaitingForMoreMedia() const { return m_waitingForMore; }

  // The picture shown now (null before the first one and in empty ranges) and its item time.
  SampleBufferRef currentVideoFrame() const { return m_frame.picture; }
  MediaTime currentVideoFrameTime() const { return m_frame.itemTime; }

 signals:
  void statusChanged();
  void videoFrameChanged();
  // Item time moved other than by playing: a seek or a step finished.
  void timeJumped();
  // Emitted on every presentation turn while playing.
  void ticked();
  void didPlayToEnd();
  // The item stopped its timebase by itself (stepping while playing).
  void pausedByItem();
  // The duration grew (a growing movie gained more of itself).
  void durationChanged();

 private:
  friend class Player;
  PlayerItem();
  void U_FinishLoading(const std::vector<MediaSourceInfo>& infos);
  void U_FinishLoadingAsset();
  void U_ScheduleTick();
  void U_Tick();
  void U_CompleteSeek(bool finished);

  // The player's side: the timebase, sound and clock following.
  float U_Rate() const { return m_rate; }
  // Starts the timebase: item time `time` (current when invalid) at host time `hostTime` (now when
  // invalid). With waitForPicture, the clock starts only once the picture at that time is decoded.
  void U_SetRate(float rate, const MediaTime& time, const MediaTime& hostTime, bool waitForPicture);
  Decoder* U_AudioDecoder(const DecoderAudioFormat& format);
  void U_DropAudioDecoder();
  // Moves the timebase onto the sound actually heard, when the two part by more than a few ms.
  void U_FollowClock(const MediaTime& heardTime);

  PlayerItemStatus m_status = PlayerItemStatus::Unknown;
  QString m_error;
  AssetRef m_asset;
  std::vector<PlayerSegment> m_videoSegments;
  std::vector<PlayerSegment> m_audioSegments;
  MediaTime m_duration = kMediaTimeInvalid;
  MediaTime m_frameDuration = MediaTimeMake(1, 30);
  QSize m_presentationSize;
  bool m_hasVideo = false;
  bool m_hasAudio = false;

  std::unique_ptr<Decoder> m_video;
  std::unique_ptr<Decoder> m_audio;
  DecoderAudioFormat m_audioFormat;

  // Timebase.
  float m_rate = 0.0f;
  MediaTime m_anchorItem = kMediaTimeZero;
  MediaTime m_anchorHost = kMediaTimeZero;
  float m_pendingRate = 0.0f;
  bool m_waitingForPicture = false;
  bool m_growing = false;
  bool m_waitingForMore = false;

  DecodedUnit m_frame;
  bool m_needPicture = false;
  bool m_snapToPicture = false;
  int m_stepsPending = 0;
  SeekCompletion m_seekCompletion;
  bool m_seekOpen = false;
  MediaTime m_loadSeekTime = kMediaTimeInvalid;

  QTimer m_presentTimer;
  std::shared_ptr<std::atomic<bool>> m_tickPosted = std::make_shared<std::atomic<bool>>(false);
};
