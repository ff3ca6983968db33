#pragma once
// Drawn over the time slider's track: the in and out marks as flag-shaped handles, or, when both are
// set, the selected band with its length written inside.

#include "platform/foundation/MediaTime.h"

#include <QColor>
#include <QWidget>

class ZRNSliderOverlayView : public QWidget {
  Q_OBJECT

 public:
  explicit ZRNSliderOverlayView(QWidget* parent = nullptr);

  MediaTime maxTime() const { return m_maxTime; }
  void setMaxTime(const MediaTime& t);
  MediaTime inTime() const { return m_inTime; }
  void setInTime(const MediaTime& t);
  MediaTime outTime() const { return m_outTime; }
  void setOutTime(const MediaTime& t);
  QColor handleColor() const { return m_handleColor; }
  void setHandleColor(const QColor& color) { m_handleColor = color; }

  // Back to no marks and no duration.
  void reset();
  // What the overlay shows, in words: its accessible description.
  QString describedMarks() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void U_Describe();

  MediaTime m_maxTime = MediaTime_ClearedMark();
  MediaTime m_inTime = MediaTime_ClearedMark();
  MediaTime m_outTime = MediaTime_ClearedMark();
  QColor m_handleColor = QColor(255, 204, 0);  // the system's yellow
};
