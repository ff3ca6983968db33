#pragma once
// The time slider of the transport bar: its value is the movie time in seconds, its tick marks are
// spaced by a time unit that fits its width, and its cell pauses the target player while the knob is
// dragged and resumes it afterwards.

#include "platform/foundation/MediaTime.h"

#include <QPointer>
#include <QSlider>

#include <memory>

class Player;
class ZRNMovieSyncSlider;
class ZRNSynchroMovieControllerView;

// The drag behaviour of the slider.
class ZRNMovieSyncSliderCell {
 public:
  ZRNMovieSyncSliderCell() = default;

  bool stopWhileTracking() const { return m_stopWhileTracking; }
  void setStopWhileTracking(bool stop) { m_stopWhileTracking = stop; }
  bool userIsDraggingSlider() const { return m_userIsDraggingSlider; }
  std::shared_ptr<Player> targetPlayer() const { return m_targetPlayer.lock(); }
  void setTargetPlayer(const std::shared_ptr<Player>& player) { m_targetPlayer = player; }
  bool isContinuous() const { return m_continuous; }
  void setContinuous(bool continuous) { m_continuous = continuous; }

  // Positions are x offsets in the slider; the whole track maps onto 0..maximum.
  bool startTrackingAt(double x, ZRNMovieSyncSlider* slider);
  bool continueTracking(double x, ZRNMovieSyncSlider* slider);
  void stopTracking(ZRNMovieSyncSlider* slider);

 private:
  bool m_stopWhileTracking = true;
  bool m_userIsDraggingSlider = false;
  bool m_continuePlayingAfterDrag = false;
  bool m_continuous = true;
  std::weak_ptr<Player> m_targetPlayer;
};

class ZRNMovieSyncSlider : public QSlider {
  Q_OBJECT

 public:
  explicit ZRNMovieSyncSlider(QWidget* parent = nullptr);

  ZRNMovieSyncSliderCell* cell() { return &m_cell; }
  const ZRNMovieSyncSliderCell* cell() const { return &m_cell; }

  std::shared_ptr<Player> targetPlayer() const { return m_targetPlayer; }
  void setTargetPlayer(const std::shared_ptr<Player>& player);
  ZRNSynchroMovieControllerView* synchroController() const;
  void setSynchroController(ZRNSynchroMovieControllerView* controller);
  MediaTime inTime() const { return m_inTime; }
  void setInTime(const MediaTime& t) { m_inTime = t; }
  MediaTime outTime() const { return m_outTime; }
  void setOutTime(const MediaTime& t) { m_outTime = t; }
  MediaTime matchStartTime() const { return m_matchStartTime; }
  void setMatchStartTime(const MediaTime& t) { m_matchStartTime = t; }
  bool drawTriangleMarkers() const { return m_drawTriangleMarkers; }
  void setDrawTriangleMarkers(bool draw) { m_drawTriangleMarkers = draw; }

  // The value in seconds.
  double doubleValue() const { return m_value; }
  void setDoubleValue(double value);
  // Ignored while the knob is dragged.
  void setIntValue(int value);
  double minValue() const { return m_min; }
  void setMinValue(double value);
  double maxValue() const { return m_max; }
  void setMaxValue(double value);
  int numberOfTickMarks() const { return m_tickMarks; }
  void setNumberOfTickMarks(int count);
  int knobThickness() const;
  // The width that positions are measured against.
  int trackWidth() const;

  void setSliderToMinimum();
  void setSliderToMaximum();
  // One tick mark per time unit (1 s to 4 min) that fits the width, both ends included.
  void fitSliderUnits();

 signals:
  // The slider's action: sent while the knob moves (the slider is continuous) and when it is dropped.
  void action();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void U_SyncRange();

  ZRNMovieSyncSliderCell m_cell;
  std::shared_ptr<Player> m_targetPlayer;
  QPointer<ZRNSynchroMovieControllerView> m_synchroController;
  MediaTime m_inTime = MediaTime_ClearedMark();
  MediaTime m_outTime = MediaTime_ClearedMark();
  MediaTime m_matchStartTime = kMediaTimeZero;
  bool m_drawTriangleMarkers = false;
  double m_value = 0.0;
  double m_min = 0.0;
  double m_max = 0.0;
  int m_tickMarks = 0;
};
