#include "playback/ZRNSynchroMovieControllerView.h"

#include "common/ZRNAccessibility.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNTimeFormatting.h"
#include "composition/ZRNAVCaptureProject.h"
#include "platform/foundation/DispatchQueue.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNMovieSyncSlider.h"
#include "playback/ZRNSliderOverlayView.h"
#include "ui_ZRNTransportBar.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QWheelEvent>

#include <cmath>

namespace {
// The times are read by screen readers as they change (a few times a second while playing).
void U_SetShownTime(QLabel* label, const QString& text) {
  label->setText(text);
  ZRNAccessible_ValueTextChanged(label);
}

constexpr int kSoundSliderSteps = 1000;

void U_SetButtonImage(QPushButton* button, const QString& image, int size) {
  button->setIcon(QIcon(ZRNTransportImageNamed(image, size * 2)));
}

// The time texts' size is in pixels: they must fit the bar's 13-pixel rows whatever the screen.
void U_SetTimeFont(QLabel* label) {
  QFont font = label->font();
  font.setPixelSize(11);
  label->setFont(font);
}

}  // namespace

QPixmap ZRNTransportImageNamed(const QString& name, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(235, 235, 235));
  const double s = size;
  if (name == QLatin1String("zrn_av_cine_play_plain")) {
    QPainterPath path;
    path.moveTo(s * 0.25, s * 0.15);
    path.lineTo(s * 0.85, s * 0.5);
    path.lineTo(s * 0.25, s * 0.85);
    path.closeSubpath();
    p.drawPath(path);
  } else if (name == QLatin1String("zrn_av_cine_pause_plain")) {
    p.drawRect(QRectF(s * 0.22, s * 0.15, s * 0.2, s * 0.7));
    p.drawRect(QRectF(s * 0.58, s * 0.15, s * 0.2, s * 0.7));
  } else if (name == QLatin1String("SndLevel0") || name == QLatin1String("SndLevel3")) {
    // A loudspeaker; full volume adds three waves.
    QPainterPath speaker;
    speaker.moveTo(s * 0.08, s * 0.38);
    speaker.lineTo(s * 0.25, s * 0.38);
    speaker.lineTo(s * 0.48, s * 0.15);
    speaker.lineTo(s * 0.48, s * 0.85);
    speaker.lineTo(s * 0.25, s * 0.62);
    speaker.lineTo(s * 0.08, s * 0.62);
    speaker.closeSubpath();
    p.drawPath(speaker);
    if (name == QLatin1String("SndLevel3")) {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(235, 235, 235), std::max(1.0, s * 0.07)));
      for (int i = 1; i <= 3; ++i) {
        const double r = s * 0.12 * i;
        p.drawArc(QRectF(s * 0.5 - r, s * 0.5 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
      }
    }
  }
  return pixmap;
}

ZRNSynchroMovieControllerView::ZRNSynchroMovieControllerView(QWidget* parent) : QWidget(parent) { commonInit(); }

ZRNSynchroMovieControllerView::~ZRNSynchroMovieControllerView() {
  if (m_movieTimeObserver)
    if (auto main = mainPlayer()) main->removeTimeObserver(m_movieTimeObserver);
  m_movieTimeObserver = 0;
  m_players.clear();
}

void ZRNSynchroMovieControllerView::commonInit() {
  m_showRateSlider = false;
  m_showTimeOnTheRight = true;
  m_showTimeLeft = true;
  Ui::ZRNTransportBar layout;
  layout.setupUi(this);
  m_paletteBox = layout.paletteBox;
  U_SetUpSoundControls(layout);
  m_playBtn = layout.playBtn;
  U_SetButtonImage(m_playBtn, QStringLiteral("zrn_av_cine_play_plain"), 24);
  U_SetPlayImage(QStringLiteral("zrn_av_cine_play_plain"));
  connect(m_playBtn, &QPushButton::clicked, this, [this] { playClicked(); });

  // The rate slider is not part of this bar (showRateSlider is NO).

  U_SetUpPositionControls(layout);
  U_SetUpTimeLeftControls(layout);
  m_playBtnLeft = 6 + 16 + 48 + 4 + 16 + 4;
  U_Layout();
  U_SetUpAccessibility();
}

// Read as a tool bar of its controls; the rounded background and the track's frame only draw and are
// left out. The selection over the track says where the in and out points are (see the overlay).
void ZRNSynchroMovieControllerView::U_SetUpAccessibility() {
  setAccessibleName(tr("Playback Controls"));
  ZRNAccessible_SetRole(this, QAccessible::ToolBar);
  ZRNAccessible_SetDecorative(m_paletteBox);
  ZRNAccessible_SetDecorative(m_trackBox);
  m_sliderOverlayView->setAccessibleName(tr("Selection"));
  ZRNAccessible_SetRole(m_sliderOverlayView, QAccessible::StaticText);
}

// Mute, volume and full volume, left of the play button.
void ZRNSynchroMovieControllerView::U_SetUpSoundControls(const Ui::ZRNTransportBar& layout) {
  m_sndOffBtn = layout.sndOffBtn;
  U_SetButtonImage(m_sndOffBtn, QStringLiteral("SndLevel0"), 16);
  connect(m_sndOffBtn, &QPushButton::clicked, this, [this] { soundOFF(); });
  m_sndLevelSlider = layout.sndLevelSlider;
  m_sndLevelSlider->setRange(0, kSoundSliderSteps);
  m_sndLevelSlider->setValue(kSoundSliderSteps);
  connect(m_sndLevelSlider, &QSlider::valueChanged, this, [this] { adjustSoundLevel(); });
  m_sndOnBtn = layout.sndOnBtn;
  U_SetButtonImage(m_sndOnBtn, QStringLiteral("SndLevel3"), 16);
  connect(m_sndOnBtn, &QPushButton::clicked, this, [this] { soundMAX(); });
}

// The play time, the position slider and what is drawn over its track (marks, periods, goals).
void ZRNSynchroMovieControllerView::U_SetUpPositionControls(const Ui::ZRNTransportBar& layout) {
  m_timeText = layout.timeText;
  U_SetTimeFont(m_timeText);
  ZRNAccessible_ExposeTextAsValue(m_timeText);
  m_slider = layout.slider;
  m_slider->setNumberOfTickMarks(3);
  m_slider->cell()->setContinuous(true);
  m_slider->setMinValue(0);
  m_slider->setMaxValue(0);
  m_slider->setEnabled(false);
  m_slider->setSynchroController(this);
  connect(m_slider, &ZRNMovieSyncSlider::action, this, [this] { adjustMovieTime(); });
  m_trackBox = layout.trackBox;
  m_trackBox->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_sliderOverlayView = layout.sliderOverlayView;
}

// The time left (or the duration) on the right, which a click switches.
void ZRNSynchroMovieControllerView::U_SetUpTimeLeftControls(const Ui::ZRNTransportBar& layout) {
  m_timeLeftText = layout.timeLeftText;
  m_timeLeftToggleBtn = layout.timeLeftToggleBtn;
  if (!m_showTimeOnTheRight) {
    delete m_timeLeftText;
    delete m_timeLeftToggleBtn;
    m_timeLeftText = nullptr;
    m_timeLeftToggleBtn = nullptr;
    return;
  }
  U_SetTimeFont(m_timeLeftText);
  ZRNAccessible_ExposeTextAsValue(m_timeLeftText);
  U_SetTimeLeftToolTip(m_showTimeLeft ? tr("Time left") : tr("Duration"));
  // Read as the time it lies over, which is not read again; what a click does is its description.
  ZRNAccessible_NameByLabel(m_timeLeftToggleBtn, m_timeLeftText);
  ZRNAccessible_SetDecorative(m_timeLeftText);
  U_DescribeTimeLeftToggle();
  connect(m_timeLeftToggleBtn, &QPushButton::clicked, this, [this] { toggleDurationString(); });
}

void ZRNSynchroMovieControllerView::U_Layout() {
  const int w = std::max(width(), 320);
  const int h = height();
  const int cy = h / 2;
  // Offsets upward in the bar's design are negative y here.
  auto centred = [](QWidget* widget, int x, int centreY, int width, int height) {
    widget->setGeometry(x, centreY - height / 2, width, height);
  };
  m_paletteBox->setGeometry(0, 0, w, h);
  centred(m_sndOffBtn, 6, cy - 1, 16, 16);
  const int soundHeight = m_sndLevelSlider->sizeHint().height();
  centred(m_sndLevelSlider, 6 + 16, cy, 48, soundHeight);
  centred(m_sndOnBtn, 6 + 16 + 48 + 4, cy - 1, 16, 16);
  centred(m_playBtn, m_playBtnLeft, cy, 24, 24);
  const int playCentreY = cy;
  const int timeX = m_playBtnLeft + 24 + 4;
  centred(m_timeText, timeX, playCentreY + 1, 64, 13);
  const int sliderX = timeX + 64 + 4;
  const int sliderRight = m_showTimeOnTheRight ? w - 8 - 64 - 8 : w - 12;
  const int sliderWidth = std::max(0, sliderRight - sliderX);
  centred(m_slider, sliderX, cy - 1, sliderWidth, m_slider->sizeHint().height());
  const int knob = m_slider->knobThickness();
  const int trackX = timeX + 64 + (knob / 2 + 4 - 1);
  const int trackWidth = std::max(0, sliderWidth + 2 - knob);
  centred(m_trackBox, trackX, cy - 1, trackWidth, 25);
  centred(m_sliderOverlayView, trackX, cy - 1, trackWidth, 25);
  if (m_timeLeftText) {
    centred(m_timeLeftText, w - 8 - 64, playCentreY + 1, 64, 13);
    m_timeLeftToggleBtn->setGeometry(m_timeLeftText->geometry());
  }
}

void ZRNSynchroMovieControllerView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  U_Layout();
  resizedWindow();
}

void ZRNSynchroMovieControllerView::resizedWindow() {
  m_slider->fitSliderUnits();
  m_sliderOverlayView->update();
}

void ZRNSynchroMovieControllerView::wheelEvent(QWheelEvent* event) {
  if (m_theAVView) QApplication::sendEvent(m_theAVView, event);
}

void ZRNSynchroMovieControllerView::setTheAVView(ZRNAVPlayerView* view) { m_theAVView = view; }

ZRNAVPlayerView* ZRNSynchroMovieControllerView::theAVView() const { return m_theAVView; }

bool ZRNSynchroMovieControllerView::U_ShowMatchTimes() {
  return Prefs_Shared().showMatchTimes();
}

std::shared_ptr<Player> ZRNSynchroMovieControllerView::mainPlayer() const {
  return m_players.isEmpty() ? nullptr : m_players.first();
}

void ZRNSynchroMovieControllerView::U_AddTimeObserver(const std::shared_ptr<Player>& player) {
  QPointer<ZRNSynchroMovieControllerView> self(this);
  m_movieTimeObserver = player->addPeriodicTimeObserverForInterval(MediaTimeMake(6, 60), [self](const MediaTime& t) {
    if (!self) return;
    self->updatePlayerForMovieTime(t);
    if (auto project = self->theAVProject()) project->U_SynchronizedLayersForTime(t);
  });
  m_slider->setTargetPlayer(player);
  U_FollowMainPlayerRate(player);
}

void ZRNSynchroMovieControllerView::addSynchronizedPlayer(const std::shared_ptr<Player>& player) {
  if (!player || m_players.contains(player)) return;
  player->setAutomaticallyWaitsToMinimizeStalling(false);
  // A player without an item counts with an all-zero time, which is not a number and changes nothing.
  const MediaTime duration = player->currentItem() ? player->currentItem()->duration() : MediaTime{};
  if (MediaTimeCompare(m_maxSynchroTime, duration) > 0) m_maxSynchroTime = duration;
  m_players.append(player);
  if (!m_movieTimeObserver) U_AddTimeObserver(player);
}

void ZRNSynchroMovieControllerView::U_FollowMainPlayerRate(const std::shared_ptr<Player>& player) {
  disconnect(m_mainRateConnection);
  if (!player) return;
  // The play button shows what the group does, however its rate changed: a click, a menu, the end of
  // the movie, or another window's action.
  m_mainRateConnection = connect(player.get(), &Player::rateChanged, this, [this](float rate) {
    if (rate != 0.0f)
      UU_SetupForPlaying();
    else
      UU_SetupForPaused();
  });
}

void ZRNSynchroMovieControllerView::removeSynchronizedPlayer(const std::shared_ptr<Player>& player) {
  const qsizetype index = m_players.indexOf(player);
  if (index < 0) return;
  player->setAutomaticallyWaitsToMinimizeStalling(true);
  player->setRate(0.0f);
  m_players.removeAt(index);
  m_maxSynchroTime = kMediaTimePositiveInfinity;
  for (const auto& other : m_players) {
    const MediaTime duration = other->currentItem() ? other->currentItem()->duration() : MediaTime{};
    if (MediaTimeCompare(duration, m_maxSynchroTime) < 0) m_maxSynchroTime = duration;
  }
  if (index == 0) {
    if (m_movieTimeObserver) player->removeTimeObserver(m_movieTimeObserver);
    m_movieTimeObserver = 0;
    if (!m_players.isEmpty())
      U_AddTimeObserver(m_players.first());
    else {
      m_slider->setTargetPlayer(nullptr);
      U_FollowMainPlayerRate(nullptr);
    }
  }
}

void ZRNSynchroMovieControllerView::U_UpdateTimeStringsForTime(const MediaTime& time) {
  MediaTime t = time;
  MediaTime max = m_maxSynchroTime;
  if (U_ShowMatchTimes()) {
    t = MediaTimeSubtract(t, m_matchStartTime);
    max = MediaTimeSubtract(max, m_matchStartTime);
  }
  U_SetShownTime(m_timeText, stringWithCMTime(t));
  m_timeText->setEnabled(true);
  if (m_showTimeOnTheRight) {
    U_SetShownTime(m_timeLeftText, m_showTimeLeft ? stringWithCMTimeLeft(t, max) : stringWithCMTime(max));
    m_timeLeftText->setEnabled(true);
  }
}

void ZRNSynchroMovieControllerView::U_DescribeTimeLeftToggle() {
  if (!m_timeLeftToggleBtn) return;
  m_timeLeftToggleBtn->setAccessibleDescription(m_showTimeLeft ? tr("Show Duration") : tr("Show Time Left"));
  m_timeLeftText->setAccessibleName(m_showTimeLeft ? tr("Time left") : tr("Duration"));
}

// The button over the time takes the mouse: it shows the time's tool tip, which the label could not.
void ZRNSynchroMovieControllerView::U_SetTimeLeftToolTip(const QString& tip) {
  m_timeLeftText->setToolTip(tip);
  m_timeLeftToggleBtn->setToolTip(tip);
}

void ZRNSynchroMovieControllerView::toggleDurationString() {
  m_showTimeLeft = !m_showTimeLeft;
  if (!m_showTimeOnTheRight) return;
  U_DescribeTimeLeftToggle();
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self] {
    if (!self) return;
    const bool match = U_ShowMatchTimes();
    MediaTime max = self->m_maxSynchroTime;
    if (match) max = MediaTimeSubtract(max, self->m_matchStartTime);
    if (self->m_showTimeLeft) {
      auto main = self->mainPlayer();
      if (main) {
        MediaTime t = main->currentTime();
        if (match) t = MediaTimeSubtract(t, self->m_matchStartTime);
        U_SetShownTime(self->m_timeLeftText, stringWithCMTimeLeft(t, max));
      }
      self->U_SetTimeLeftToolTip(tr("Time left"));
    } else {
      U_SetShownTime(self->m_timeLeftText, stringWithCMTime(max));
      self->U_SetTimeLeftToolTip(tr("Duration"));
    }
    ZRNAccessible_NameChanged(self->m_timeLeftToggleBtn);
  });
}

void ZRNSynchroMovieControllerView::togglePlay() { playClicked(); }

void ZRNSynchroMovieControllerView::playClicked() {
  auto main = mainPlayer();
  if (!main || !main->currentItem()) return;
  QPointer<ZRNSynchroMovieControllerView> self(this);
  if (main->rate() != 0.0f) {
    for (const auto& player : m_players) player->setRate(0.0f);
    Dispatch_MainAsync([self] {
      if (self) self->UU_SetupForPaused();
    });
    return;
  }
  MediaTime start = main->currentTime();
  if (MediaTimeCompare(start, m_maxSynchroTime) >= 0) {
    // Playing from the end starts again from the beginning.
    main->seekToTime(kMediaTimeZero, kMediaTimeZero, kMediaTimeZero);
    start = kMediaTimeZero;
  }
  float rate = m_rateSlider ? static_cast<float>(m_rateSlider->value()) : 0.0f;
  if (rate == 0.0f) rate = 1.0f;
  for (const auto& player : m_players) {
    // All players start at item time T at one host time of the main player's clock.
    const MediaTime hostTime = main->masterClockTime();
    player->setRate(rate, start, hostTime);
  }
  Dispatch_MainAsync([self] {
    if (self) self->UU_SetupForPlaying();
  });
}

void ZRNSynchroMovieControllerView::U_SetPlayImage(const QString& name) {
  m_playBtnImageName = name;
  m_playBtn->setIcon(QIcon(ZRNTransportImageNamed(name, 48)));
  // Named by what a press does now.
  m_playBtn->setAccessibleName(name == QLatin1String("zrn_av_cine_pause_plain") ? tr("Pause") : tr("Play"));
}

void ZRNSynchroMovieControllerView::UU_SetupForPlaying() {
  if (m_rateSlider) m_rateSlider->setValue(1);
  U_SetPlayImage(QStringLiteral("zrn_av_cine_pause_plain"));
  m_playBtn->setEnabled(true);
}

void ZRNSynchroMovieControllerView::UU_SetupForPaused() {
  if (m_rateSlider) m_rateSlider->setValue(0);
  U_SetPlayImage(QStringLiteral("zrn_av_cine_play_plain"));
  m_playBtn->setEnabled(true);
}

void ZRNSynchroMovieControllerView::updatePlayerForMovieTime(const MediaTime& time) {
  const bool atEnd = MediaTimeCompare(time, m_maxSynchroTime) != -1;
  // A player that waits at the end of a movie still being written is still playing.
  if (!m_players.isEmpty() && atEnd && m_players.first()->rate() == 0.0f) UU_SetupForPaused();
  if (m_players.size() >= 2 && atEnd) {
    // The shortest movie of the group has ended: stop everyone on the main player's time.
    for (const auto& player : m_players) player->setRate(0.0f);
    for (qsizetype i = 1; i < m_players.size(); ++i) m_players[i]->seekToTime(time, kMediaTimeZero, kMediaTimeZero);
  }
  U_UpdateTimeStringsForTime(time);
  m_slider->setDoubleValue(MediaTimeGetSeconds(time));
}

void ZRNSynchroMovieControllerView::updateControllerForNoMovie() {
  updateControllerForSound(false);
  m_slider->setMinValue(0);
  m_slider->setMaxValue(0);
  m_slider->setDoubleValue(0);
  m_slider->fitSliderUnits();
  m_slider->setEnabled(false);
  m_sliderOverlayView->reset();
  m_maxSynchroTime = kMediaTimeZero;
  for (const auto& player : m_players) player->setRate(0.0f);
  U_SetPlayImage(QStringLiteral("zrn_av_cine_play_plain"));
  m_playBtn->setEnabled(false);
  U_SetShownTime(m_timeText, QStringLiteral("--:--:--"));
  m_timeText->setEnabled(false);
  if (m_showTimeOnTheRight) {
    U_SetShownTime(m_timeLeftText, QStringLiteral("--:--:--"));
    m_timeLeftText->setEnabled(false);
  }
}

void ZRNSynchroMovieControllerView::enableSoundControls(bool enable, const QString& toolTip) {
  for (QWidget* control : {static_cast<QWidget*>(m_sndOffBtn), static_cast<QWidget*>(m_sndLevelSlider),
                           static_cast<QWidget*>(m_sndOnBtn)}) {
    control->setEnabled(enable);
    control->setToolTip(toolTip);
  }
}

void ZRNSynchroMovieControllerView::updateControllerForSound(bool hasSound) {
  const float level = static_cast<float>(m_sndLevelSlider->value()) / kSoundSliderSteps;
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self, hasSound, level] {
    if (!self) return;
    for (QWidget* control : {static_cast<QWidget*>(self->m_sndOffBtn), static_cast<QWidget*>(self->m_sndLevelSlider),
                             static_cast<QWidget*>(self->m_sndOnBtn)}) {
      control->setVisible(hasSound);
      if (hasSound) control->setEnabled(true);
    }
    if (!hasSound) {
      // Without sound controls the play button moves to the bar's leading edge.
      self->m_playBtnLeft = 6;
      self->U_Layout();
    }
    for (const auto& player : self->m_players) player->setVolume(hasSound ? level : 0.0f);
  });
}

void ZRNSynchroMovieControllerView::updateControllerForMovieDuration(const MediaTime& duration) {
  const double value = m_slider->doubleValue();
  m_maxSynchroTime = duration;
  m_slider->setMaxValue(MediaTimeGetSeconds(duration));
  m_slider->fitSliderUnits();
  m_sliderOverlayView->setMaxTime(duration);
  m_sliderOverlayView->update();
  const bool enable = MediaTimeGetSeconds(duration) > 0;
  m_slider->setEnabled(enable);
  m_playBtn->setEnabled(enable);
  U_UpdateTimeStringsForTime(MediaTimeMakeWithSeconds(value, 1000));
}

void ZRNSynchroMovieControllerView::adjustMovieTime() {
  // Whole milliseconds, halves rounded up.
  MediaTime target = MediaTimeMake(static_cast<int64_t>(m_slider->doubleValue() * 1000.0 + 0.5), 1000);
  auto main = mainPlayer();
  if (!main) return;
  const bool wasPlaying = main->rate() != 0.0f;
  if (wasPlaying || m_slider->cell()->userIsDraggingSlider())
    for (const auto& player : m_players) player->setRate(0.0f);
  if (MediaTimeCompare(target, m_maxSynchroTime) > 0) target = m_maxSynchroTime;
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self, target, wasPlaying] {
    if (!self) return;
    for (const auto& player : self->m_players) player->seekToTime(target, kMediaTimeZero, kMediaTimeZero);
    self->U_UpdateTimeStringsForTime(target);
    if (!self->m_slider->cell()->userIsDraggingSlider() && wasPlaying &&
        MediaTimeCompare(target, self->m_maxSynchroTime) < 0)
      for (const auto& player : self->m_players) player->setRate(1.0f);
  });
}

void ZRNSynchroMovieControllerView::updateControllerForMovieRate(float rate) {
  auto main = mainPlayer();
  if (!main) return;
  const bool wasPlaying = main->rate() != 0.0f;
  if (wasPlaying)
    for (const auto& player : m_players) player->setRate(0.0f);
  const MediaTime now = main->currentTime();
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self, rate, wasPlaying, now] {
    if (!self) return;
    if (wasPlaying)
      for (const auto& player : self->m_players) player->seekToTime(now, kMediaTimeZero, kMediaTimeZero);
    for (const auto& player : self->m_players) player->setRate(rate);
    self->U_SetPlayImage(rate == 0.0f ? QStringLiteral("zrn_av_cine_play_plain") : QStringLiteral("zrn_av_cine_pause_plain"));
  });
}

void ZRNSynchroMovieControllerView::adjustMovieRate() {
  if (m_rateSlider) updateControllerForMovieRate(static_cast<float>(m_rateSlider->value()));
}

void ZRNSynchroMovieControllerView::stepBackwards(QObject*) {
  auto main = mainPlayer();
  if (!main || main->rate() != 0.0f) return;
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self] {
    if (!self) return;
    for (const auto& player : self->m_players)
      if (player->currentItem()) player->currentItem()->stepByCount(-1);
    if (auto main = self->mainPlayer()) self->U_UpdateTimeStringsForTime(main->currentTime());
  });
}

void ZRNSynchroMovieControllerView::stepForward(QObject*) {
  auto main = mainPlayer();
  if (!main || main->rate() != 0.0f) return;
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self] {
    if (!self) return;
    for (const auto& player : self->m_players)
      if (player->currentItem()) player->currentItem()->stepByCount(1);
    auto main = self->mainPlayer();
    if (main && main->currentItem()) self->U_UpdateTimeStringsForTime(main->currentItem()->currentTime());
  });
}

void ZRNSynchroMovieControllerView::soundOFF() {
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self] {
    if (!self) return;
    for (const auto& player : self->m_players) player->setVolume(0.0f);
    const QSignalBlocker blocker(self->m_sndLevelSlider);
    self->m_sndLevelSlider->setValue(0);
  });
}

void ZRNSynchroMovieControllerView::soundMAX() {
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self] {
    if (!self) return;
    for (const auto& player : self->m_players) player->setVolume(1.0f);
    const QSignalBlocker blocker(self->m_sndLevelSlider);
    self->m_sndLevelSlider->setValue(kSoundSliderSteps);
  });
}

void ZRNSynchroMovieControllerView::adjustSoundLevel() {
  const float level = static_cast<float>(m_sndLevelSlider->value()) / kSoundSliderSteps;
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self, level] {
    if (!self) return;
    for (const auto& player : self->m_players) player->setVolume(level);
  });
}

void ZRNSynchroMovieControllerView::defineMatchStartTime(const MediaTime& time) {
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self, time] {
    if (!self) return;
    self->m_matchStartTime = time;
    self->m_slider->setMatchStartTime(time);
    self->m_slider->update();
    if (U_ShowMatchTimes()) self->U_UpdateTimeStringsForTime(time);
  });
}

void ZRNSynchroMovieControllerView::defineInTime(const MediaTime& time) { U_DefineMark(true, time); }

void ZRNSynchroMovieControllerView::defineOutTime(const MediaTime& time) { U_DefineMark(false, time); }

void ZRNSynchroMovieControllerView::U_DefineMark(bool isIn, const MediaTime& time) {
  QPointer<ZRNSynchroMovieControllerView> self(this);
  Dispatch_MainAsync([self, isIn, time] {
    if (!self) return;
    if (isIn) {
      self->m_inTime = time;
      self->m_slider->setInTime(time);
      self->m_sliderOverlayView->setInTime(time);
    } else {
      self->m_outTime = time;
      self->m_slider->setOutTime(time);
      self->m_sliderOverlayView->setOutTime(time);
    }
    self->m_slider->update();
    self->m_sliderOverlayView->update();
  });
}
