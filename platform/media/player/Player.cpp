#include "platform/media/player/Player.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/media/player/AudioOutput.h"
#include "platform/system/ScreenSaver.h"

#include <cmath>
#include <cstring>

Player::Player(std::shared_ptr<PlayerItem> item, QObject* parent) : QObject(parent) {
  replaceCurrentItemWithPlayerItem(std::move(item));
  // Every start, pause, end and change of item passes here.
  connect(this, &Player::rateChanged, this, &Player::U_UpdateDisplaySleep);
  connect(this, &Player::currentItemChanged, this, &Player::U_UpdateDisplaySleep);
}

void Player::setPreventsDisplaySleepDuringVideoPlayback(bool prevents) {
  m_preventsDisplaySleep = prevents;
  U_UpdateDisplaySleep();
}

void Player::U_UpdateDisplaySleep() {
  const bool wanted = m_preventsDisplaySleep && m_rate != 0.0f && m_item && m_item->hasVideo();
  if (wanted && !m_displaySleepHold)
    m_displaySleepHold = std::make_unique<ScreenSaverInhibition>(QStringLiteral("Velmora"), QStringLiteral("Playing video"));
  else if (!wanted)
    m_displaySleepHold.reset();
}

Player::~Player() {
  if (m_audio) m_audio->stop();
  for (const auto& connection : m_itemConnections) disconnect(connection);
  if (m_item) m_item->U_SetRate(0.0f, kMediaTimeInvalid, kMediaTimeInvalid, false);
}

void Player::replaceCurrentItemWithPlayerItem(std::shared_ptr<PlayerItem> item) {
  if (item == m_item) return;
  if (m_audio) m_audio->stop();
  m_soundDecoder = nullptr;
  for (const auto& connection : m_itemConnections) disconnect(connection);
  m_itemConnections.clear();
  if (m_item) {
    m_item->U_SetRate(0.0f, kMediaTimeInvalid, kMediaTimeInvalid, false);
    m_item->U_DropAudioDecoder();
  }
  m_item = std::move(item);
  U_AttachItem();
  emit currentItemChanged();
  emit videoFrameChanged();
}

void Player::U_AttachItem() {
  if (!m_item) return;
  PlayerItem* item = m_item.get();
  m_itemConnections.push_back(connect(item, &PlayerItem::videoFrameChanged, this, &Player::videoFrameChanged));
  m_itemConnections.push_back(connect(item, &PlayerItem::ticked, this, [this] {
    if (m_audio && m_audio->isRunning()) m_item->U_FollowClock(m_audio->heardItemTime());
    U_FireObservers(false);
  }));
  m_itemConnections.push_back(connect(item, &PlayerItem::timeJumped, this, [this] { U_FireObservers(true); }));
  m_itemConnections.push_back(connect(item, &PlayerItem::didPlayToEnd, this, [this] {
    m_rate = 0.0f;
    U_UpdateSound();
    U_FireObservers(true);
    emit rateChanged(m_rate);
  }));
  m_itemConnections.push_back(connect(item, &PlayerItem::pausedByItem, this, [this] {
    m_rate = 0.0f;
    U_UpdateSound();
    emit rateChanged(m_rate);
  }));
  m_itemConnections.push_back(connect(item, &PlayerItem::statusChanged, this, [this] {
    // A rate set before the item was ready takes effect now.
    if (m_item->status() == PlayerItemStatus::ReadyToPlay && m_rate != 0.0f) {
      m_item->U_SetRate(m_rate, kMediaTimeInvalid, kMediaTimeInvalid, m_waits);
      U_UpdateSound();
    }
    // Whether the item has pictures is known once it is ready.
    U_UpdateDisplaySleep();
  }));
  if (m_rate != 0.0f && m_item->status() == PlayerItemStatus::ReadyToPlay) {
    m_item->U_SetRate(m_rate, kMediaTimeInvalid, kMediaTimeInvalid, m_waits);
    U_UpdateSound();
  }
}

void Player::setRate(float rate) { setRate(rate, kMediaTimeInvalid, kMediaTimeInvalid); }

void Player::setRate(float rate, const MediaTime& itemTime, const MediaTime& hostTime) {
  if (rate < 0.0f || std::isnan(rate)) rate = 0.0f;
  const bool timed = hostTime.isValid();
  if (m_item && m_item->status() == PlayerItemStatus::ReadyToPlay) {
    if (itemTime.isValid() && MediaTimeCompare(itemTime, m_item->currentTime()) != 0)
      m_item->seekToTime(itemTime, kMediaTimeZero, kMediaTimeZero);
    // A start at a host time keeps to that time: the clock must not wait for the decoder.
    m_item->U_SetRate(rate, itemTime, hostTime, m_waits && !timed);
  }
  const bool changed = rate != m_rate;
  m_rate = rate;
  U_UpdateSound();
  if (changed) {
    U_FireObservers(true);
    emit rateChanged(m_rate);
  }
}

MediaTime Player::currentTime() const { return m_item ? m_item->currentTime() : kMediaTimeZero; }

void Player::seekToTime(const MediaTime& time, PlayerItem::SeekCompletion completion) {
  if (!m_item) {
    if (completion) Dispatch_MainAsync([completion] { completion(false); });
    return;
  }
  m_item->seekToTime(time, std::move(completion));
  U_UpdateSound();
}

void Player::seekToTime(const MediaTime& time, const MediaTime& toleranceBefore, const MediaTime& toleranceAfter,
                        PlayerItem::SeekCompletion completion) {
  if (!m_item) {
    if (completion) Dispatch_MainAsync([completion] { completion(false); });
    return;
  }
  m_item->seekToTime(time, toleranceBefore, toleranceAfter, std::move(completion));
  U_UpdateSound();
}

void Player::setVolume(float volume) {
  m_volume = std::clamp(volume, 0.0f, 1.0f);
  if (m_audio) m_audio->setVolume(m_volume);
}

MediaTime Player::masterClockTime() const { return HostClock_Now(); }

bool Player::isFollowingAudioClock() const { return m_audio && m_audio->isRunning(); }

Player::TimeObserverToken Player::addPeriodicTimeObserverForInterval(const MediaTime& interval, TimeObserver observer) {
  const TimeObserverToken token = m_nextToken++;
  m_observers.push_back(Observer{token, interval, std::move(observer), INT64_MIN});
  return token;
}

void Player::removeTimeObserver(TimeObserverToken token) {
  std::erase_if(m_observers, [token](const Observer& o) { return o.token == token; });
}

void Player::U_FireObservers(bool force) {
  if (!m_item || m_observers.empty()) return;
  const MediaTime now = m_item->currentTime();
  const double seconds = MediaTimeGetSeconds(now);
  // Copy the tokens first: an observer may remove itself or another one.
  std::vector<TimeObserverToken> tokens;
  for (const Observer& o : m_observers) tokens.push_back(o.token);
  for (TimeObserverToken token : tokens) {
    auto it = std::find_if(m_observers.begin(), m_observers.end(), [token](const Observer& o) { return o.token == token; });
    if (it == m_observers.end()) continue;
    const double interval = MediaTimeGetSeconds(it->interval);
    const int64_t slot = interval > 0 ? static_cast<int64_t>(std::floor(seconds / interval + 1e-9)) : 0;
    if (!force && slot == it->lastSlot) continue;
    it->lastSlot = slot;
    TimeObserver block = it->block;
    block(now);
  }
}

void Player::U_UpdateSound() {
  // Sound plays only at rate 1: at any other speed it could not follow the pictures.
  const bool wanted = m_item && m_item->hasAudio() && m_rate == 1.0f && m_item->status() == PlayerItemStatus::ReadyToPlay;
  if (!wanted) {
    if (m_audio) m_audio->stop();
    m_soundDecoder = nullptr;
    return;
  }
  if (!m_audio) {
    if (!AudioOutput::hasDefaultDevice()) return;  // no device: the host clock alone drives playback
    m_audio = std::make_unique<AudioOutput>();
    m_audio->setVolume(m_volume);
  }
  m_audio->stop();
  m_soundDecoder = m_item->U_AudioDecoder(m_audio->format());
  if (!m_soundDecoder) return;
  m_audio->start([this](char* data, qint64 maxBytes, MediaTime* first) { return U_PullSound(data, maxBytes, first); });
}

qint64 Player::U_PullSound(char* data, qint64 maxBytes, MediaTime* firstByteTime) {
  if (!m_soundDecoder || !m_item) return 0;
  return AudioOutput_FillFromDecoder(*m_soundDecoder, m_audio->format(), m_item->currentTime(), data, maxBytes,
                                     firstByteTime);
}
