#include "playback/ZRNMovieSyncSlider.h"
#include "playback/ZRNSliderOverlayView.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

TEST(ZRNMovieSyncSlider, TickMarksFollowTheTimeUnitThatFits) {
  struct Case {
    double seconds;
    int room, marks;  // room: marks that fit, one per 16 points of the track
  } const cases[] = {
      {600, 23, 21},    // every 30 s
      {10800, 23, 3},   // no unit fits (240 s gives 46 marks)
      {5000, 23, 22},   // every 4 min
      {60, 23, 13},     // every 5 s
      {20, 23, 21},     // every second
      {0.5, 40, 2},     // shorter than a second: S + 1.5, truncated
      {0.3, 40, 1},
      {3600, 23, 21},   // every 3 min
      {0, 23, 1},
  };
  ZRNMovieSyncSlider slider;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    slider.resize(c.room * 16 + slider.knobThickness() + 8, 20);
    slider.setMaxValue(c.seconds);
    slider.fitSliderUnits();
    EXPECT_EQ(slider.numberOfTickMarks(), c.marks);
  }
}

TEST(ZRNMovieSyncSlider, IntValuesWaitWhileTheKnobIsDragged) {
  ZRNMovieSyncSlider slider;
  slider.resize(300, 20);
  slider.setMaxValue(100);
  slider.setIntValue(40);
  EXPECT_DOUBLE_EQ(slider.doubleValue(), 40);
  slider.cell()->startTrackingAt(slider.trackWidth() / 2.0, &slider);
  EXPECT_TRUE(slider.cell()->userIsDraggingSlider());
  EXPECT_NEAR(slider.doubleValue(), 50, 0.5);
  slider.setIntValue(10);
  EXPECT_NEAR(slider.doubleValue(), 50, 0.5);
  slider.setDoubleValue(12.5);
  EXPECT_DOUBLE_EQ(slider.doubleValue(), 12.5);
  slider.cell()->stopTracking(&slider);
  slider.setIntValue(10);
  EXPECT_DOUBLE_EQ(slider.doubleValue(), 10);
}

// The overlay drawn on a transparent image: alpha tells where it painted.
QImage Render(ZRNSliderOverlayView& overlay) {
  QImage image(overlay.size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  overlay.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

TEST(ZRNSliderOverlayView, HandlesAndBandAtTheirPixels) {
  struct Probe {
    int x, y, minAlpha, maxAlpha;
  };
  struct Case {
    const char* name;
    MediaTime in, out, max;
    std::vector<Probe> probes;
  };
  const MediaTime none = MediaTime_ClearedMark();
  const MediaTime hundred = MediaTimeMake(100, 1);
  const Case cases[] = {
      // In at 50 s of 100 on 200 points: bar x 97..100, triangles from x 98 pointing right.
      {"in only", MediaTimeMake(50, 1), none, hundred,
       {{98, 12, 150, 200}, {99, 1, 250, 255}, {103, 0, 0, 255}, {99, 23, 250, 255}, {95, 12, 0, 0}, {150, 12, 0, 0}}},
      // Out at 75 s: bar x 148..151, triangles pointing left from x 150.
      {"out only", none, MediaTimeMake(75, 1), hundred,
       {{149, 12, 150, 200}, {148, 1, 250, 255}, {153, 12, 0, 0}, {98, 12, 0, 0}}},
      // Both: one band from x 39 to 119 and no handles.
      {"band", MediaTimeMake(20, 1), MediaTimeMake(60, 1), hundred,
       {{45, 3, 60, 110}, {39, 12, 120, 255}, {30, 12, 0, 0}, {125, 12, 0, 0}}},
      // An out mark past the end takes the band to the right edge.
      {"band past the end", MediaTimeMake(20, 1), MediaTimeMake(150, 1), hundred, {{195, 3, 60, 255}, {30, 12, 0, 0}}},
      // No duration yet: nothing.
      {"no duration", MediaTimeMake(20, 1), MediaTimeMake(60, 1), none, {{45, 12, 0, 0}, {39, 12, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZRNSliderOverlayView overlay;
    overlay.resize(200, 25);
    overlay.setMaxTime(c.max);
    overlay.setInTime(c.in);
    overlay.setOutTime(c.out);
    const QImage image = Render(overlay);
    for (const Probe& p : c.probes) {
      const int alpha = qAlpha(image.pixel(p.x, p.y));
      EXPECT_GE(alpha, p.minAlpha) << p.x << "," << p.y;
      EXPECT_LE(alpha, p.maxAlpha) << p.x << "," << p.y;
    }
  }
}

TEST(ZRNSliderOverlayView, BandShowsItsLengthOnlyWhenItFits) {
  ZRNSliderOverlayView overlay;
  overlay.resize(400, 25);
  overlay.setMaxTime(MediaTimeMake(100, 1));
  overlay.setInTime(MediaTimeMake(20, 1));
  overlay.setOutTime(MediaTimeMake(60, 1));
  auto whitePixels = [&] {
    const QImage image = Render(overlay);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb px = image.pixel(x, y);
        if (qAlpha(px) > 200 && qBlue(px) > 150) ++count;  // light grey text, not the yellow band
      }
    return count;
  };
  EXPECT_GT(whitePixels(), 5);
  overlay.setOutTime(MediaTimeMake(21, 1));  // a band of 4 points: no room for "0:01"
  EXPECT_EQ(whitePixels(), 0);
  overlay.reset();
  EXPECT_EQ(Render(overlay).pixel(100, 12), 0u);
}

}  // namespace
