#include "playback/ZRNMovieSyncSlider.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/media/player/Player.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

bool ZRNMovieSyncSliderCell::startTrackingAt(double x, ZRNMovieSyncSlider* slider) {
  m_userIsDraggingSlider = true;
  m_continuePlayingAfterDrag = false;
  if (m_stopWhileTracking) {
    if (auto player = targetPlayer(); player && player->rate() != 0.0f) {
      player->setRate(0.0f);
      m_continuePlayingAfterDrag = true;
    }
    const double width = std::max(1, slider->trackWidth());
    slider->setDoubleValue(std::clamp(slider->maxValue() * (x / width), slider->minValue(), slider->maxValue()));
  }
  return m_continuous;
}

bool ZRNMovieSyncSliderCell::continueTracking(double x, ZRNMovieSyncSlider* slider) {
  if (m_continuous) {
    const double width = std::max(1, slider->trackWidth());
    slider->setDoubleValue(std::clamp(slider->maxValue() * (x / width), slider->minValue(), slider->maxValue()));
  }
  return true;
}

void ZRNMovieSyncSliderCell::stopTracking(ZRNMovieSyncSlider* slider) {
  m_userIsDraggingSlider = false;
  if (!m_stopWhileTracking || !m_continuePlayingAfterDrag) return;
  // After the drag's last action has been handled: resume, unless the knob was dropped at the end.
  QPointer<ZRNMovieSyncSlider> guard(slider);
  std::weak_ptr<Player> weakPlayer = m_targetPlayer;
  Dispatch_MainAsync([guard, weakPlayer] {
    if (!guard) return;
    ZRNSynchroMovieControllerView* bar = guard->synchroController();
    if (guard->maxValue() > guard->doubleValue()) {
      if (bar) bar->UU_SetupForPlaying();
      if (auto player = weakPlayer.lock()) player->setRate(1.0f);
    } else if (bar) {
      bar->UU_SetupForPaused();
    }
  });
}

ZRNMovieSyncSlider::ZRNMovieSyncSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setTracking(true);
  setTickPosition(QSlider::NoTicks);
  // The keys move by a second (the arrows) or ten (Page Up and Down), Home and End go to the ends.
  setSingleStep(1000);
  setPageStep(10000);
  U_SyncRange();
  // Values set here are set with the signal blocked: a change that arrives is the keyboard's or a
  // screen reader's, and seeks as a click on the track does.
  connect(this, &QSlider::valueChanged, this, [this](int millis) {
    if (millis == static_cast<int>(std::llround(m_value * 1000.0))) return;
    m_value = std::clamp(millis / 1000.0, m_min, std::max(m_min, m_max));
    emit action();
  });
}

void ZRNMovieSyncSlider::setTargetPlayer(const std::shared_ptr<Player>& player) {
  m_targetPlayer = player;
  m_cell.setTargetPlayer(player);
}

ZRNSynchroMovieControllerView* ZRNMovieSyncSlider::synchroController() const { return m_synchroController; }

void ZRNMovieSyncSlider::setSynchroController(ZRNSynchroMovieControllerView* controller) {
  m_synchroController = controller;
}

void ZRNMovieSyncSlider::U_SyncRange() {
  // The base slider works in whole milliseconds; the value in seconds is kept exactly here.
  const QSignalBlocker blocker(this);
  QSlider::setRange(static_cast<int>(std::llround(m_min * 1000.0)), static_cast<int>(std::llround(m_max * 1000.0)));
  QSlider::setValue(static_cast<int>(std::llround(m_value * 1000.0)));
  if (m_tickMarks > 1) {
    setTickInterval(std::max(1, static_cast<int>((maximum() - minimum()) / (m_tickMarks - 1))));
    setTickPosition(QSlider::TicksBelow);
  } else {
    setTickPosition(QSlider::NoTicks);
  }
}

void ZRNMovieSyncSlider::setDoubleValue(double value) {
  m_value = std::clamp(value, m_min, std::max(m_min, m_max));
  U_SyncRange();
}

void ZRNMovieSyncSlider::setIntValue(int value) {
  if (m_cell.userIsDraggingSlider()) return;
  setDoubleValue(value);
}

void ZRNMovieSyncSlider::setMinValue(double value) {
  m_min = value;
  setDoubleValue(m_value);
}

void ZRNMovieSyncSlider::setMaxValue(double value) {
  m_max = value;
  setDoubleValue(m_value);
}

void ZRNMovieSyncSlider::setNumberOfTickMarks(int count) {
  m_tickMarks = count;
  U_SyncRange();
  update();
}

int ZRNMovieSyncSlider::knobThickness() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  return style()->pixelMetric(QStyle::PM_SliderLength, &option, this);
}

int ZRNMovieSyncSlider::trackWidth() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
  return groove.width() > 0 ? groove.width() : width();
}

void ZRNMovieSyncSlider::setSliderToMinimum() {
  setDoubleValue(m_min);
  emit action();
}

void ZRNMovieSyncSlider::setSliderToMaximum() {
  setDoubleValue(m_max);
  emit action();
}

void ZRNMovieSyncSlider::fitSliderUnits() {
  static const int kUnits[] = {1, 5, 10, 15, 20, 30, 60, 120, 180, 240};
  // One mark per 16 points at most.
  const int limit = static_cast<int>((width() - knobThickness()) * 0.0625);
  const double span = m_max - m_min;
  for (int unit : kUnits) {
    const int marks = static_cast<int>(span / unit + 0.5 + 1.0);
    if (marks < limit) {
      setNumberOfTickMarks(marks);
      return;
    }
  }
  setNumberOfTickMarks(3);
}

void ZRNMovieSyncSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
  const double x = event->position().x() - groove.left();
  if (m_cell.startTrackingAt(x, this)) emit action();
  event->accept();
}

void ZRNMovieSyncSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!m_cell.userIsDraggingSlider()) return;
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
  m_cell.continueTracking(event->position().x() - groove.left(), this);
  if (m_cell.isContinuous()) emit action();
  event->accept();
}

void ZRNMovieSyncSlider::wheelEvent(QWheelEvent* event) {
  // The wheel belongs to the bar, which hands it to the player view.
  event->ignore();
}

void ZRNMovieSyncSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_cell.userIsDraggingSlider()) return;
  // The drop's action comes first; the resume that stopTracking defers then runs after it.
  emit action();
  m_cell.stopTracking(this);
  event->accept();
}
