#pragma once
// The player: plays one PlayerItem at a rate on the monotonic host clock. The item's timebase is the one
// clock; the player sets its rate, feeds the sound device from the item's sound decoder, lets the clock
// follow the device while sound plays, and runs the periodic time observers on the main queue.

#include "platform/foundation/MediaTime.h"
#include "platform/media/player/PlayerItem.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class AudioOutput;
class ScreenSaverInhibition;

class Player : public QObject {
  Q_OBJECT

 public:
  using TimeObserverToken = uint64_t;
  using TimeObserver = std::function<void(const MediaTime& time)>;

  explicit Player(std::shared_ptr<PlayerItem> item = nullptr, QObject* parent = nullptr);
  ~Player() override;

  std::shared_ptr<PlayerItem> currentItem() const { return m_item; }
  void replaceCurrentItemWithPlayerItem(std::shared_ptr<PlayerItem> item);

  // 0 pauses, 1 plays; other positive rates play at that speed with the sound muted. Negative rates
  // are not supported and pause.
  float rate() const { return m_rate; }
  void setRate(float rate);
  // Starts at item time `itemTime` when the host clock reads `hostTime` (a host time in the past
  // starts as if playback had begun then). An invalid item time keeps the current time; an invalid
  // host time means now.
  void setRate(float rate, const MediaTime& itemTime, const MediaTime& hostTime);
  void play() { setRate(1.0f); }
  void pause() { setRate(0.0f); }

  MediaTime currentTime() const;
  void seekToTime(const MediaTime& time, PlayerItem::SeekCompletion completion = {});
  void seekToTime(const MediaTime& time, const MediaTime& toleranceBefore, const MediaTime& toleranceAfter,
                  PlayerItem::SeekCompletion completion = {});

  // When YES, starting to play holds the clock until the picture to start on is decoded. A start at a
  // given host time needs NO.
  bool automaticallyWaitsToMinimizeStalling() const { return m_waits; }
  void setAutomaticallyWaitsToMinimizeStalling(bool waits) { m_waits = waits; }

  // When YES, the display does not blank while the player plays an item with pictures (a hold on the
  // desktop's screen saver, let go on pause, at the end and when the player goes). NO by default.
  bool preventsDisplaySleepDuringVideoPlayback() const { return m_preventsDisplaySleep; }
  void setPreventsDisplaySleepDuringVideoPlayback(bool prevents);
  // Whether the player holds the screen saver off now.
  bool isPreventingDisplaySleep() const { return m_displaySleepHold != nullptr; }

  float volume() const { return m_volume; }
  void setVolume(float volume);

  // The master clock: the monotonic host clock (HostClock_Now()).
  MediaTime masterClockTime() const;
  // True while the sound device is playing and the clock follows it.
  bool isFollowingAudioClock() const;

  // The observer runs on the main queue each time playback enters a new interval of item time, and
  // whenever time jumps or the rate changes.
  TimeObserverToken addPeriodicTimeObserverForInterval(const MediaTime& interval, TimeObserver observer);
  void removeTimeObserver(TimeObserverToken token);

 signals:
  void rateChanged(float rate);
  void currentItemChanged();
  // The item's shown picture changed.
  void videoFrameChanged();

 private:
  struct Observer {
    TimeObserverToken token;
    MediaTime interval;
    TimeObserver block;
    int64_t lastSlot;
  };
  void U_AttachItem();
  void U_FireObservers(bool force);
  void U_UpdateSound();
  void U_UpdateDisplaySleep();
  qint64 U_PullSound(char* data, qint64 maxBytes, MediaTime* firstByteTime);

  std::shared_ptr<PlayerItem> m_item;
  std::vector<QMetaObject::Connection> m_itemConnections;
  float m_rate = 0.0f;
  float m_volume = 1.0f;
  bool m_waits = true;
  std::vector<Observer> m_observers;
  TimeObserverToken m_nextToken = 1;
  std::unique_ptr<AudioOutput> m_audio;
  class Decoder* m_soundDecoder = nullptr;
  bool m_preventsDisplaySleep = false;
  std::unique_ptr<ScreenSaverInhibition> m_displaySleepHold;
};
