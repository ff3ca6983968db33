#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNAVProjectFunctions.h"
#include "composition/ZRNImageOverlayEdit.h"
#include "composition/ZRNTitleEdit.h"
#include "common/ZRNAppPrefs.h"
#include "platform/layers/LayerRenderer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QVariantMap command(const char* json) { return QJsonDocument::fromJson(QByteArray(json)).toVariant().toMap(); }

QString picture(const QString& folder, const char* name, QSize size, const QColor& color) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(color);
  const QString path = QDir(folder).filePath(QString::fromLatin1(name));
  image.save(path);
  return path;
}

// A composition that lasts `millis` (an empty stretch is enough to give overlays a time line).
MutableCompositionRef compositionOf(int64_t millis, QSizeF size) {
  MutableCompositionRef c = MutableComposition::composition();
  c->setNaturalSize(size);
  c->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeVideo))
      ->insertEmptyTimeRange(MediaTimeRangeMake(kMediaTimeZero, MediaTimeMake(millis, 1000)));
  return c;
}

// The tree an export draws: a parent in the frame's y-up space, the overlay tree (flipped, laid out by
// constraints) and each edit's layer in it, as the project builds it.
struct ExportTree : ZRNAVCaptureProject {
  using ZRNAVProject::U_OverlayTreeForComposition;
  QImage render(const MutableCompositionRef& c, double seconds, bool exporting = true) {
    const QSizeF size = c->naturalSize();
    CALayerRef parent = CALayer::layer();
    parent->setFrame(QRectF(QPointF(0, 0), size));
    parent->addSublayer(U_OverlayTreeForComposition(c, size, exporting, exporting));
    QImage frame(size.toSize(), QImage::Format_RGB32);
    frame.fill(Qt::black);
    LayerRenderer_RenderOverImage(frame, parent, seconds);
    return frame;
  }
};

struct EngineTree : ZRNAVProject {
  using ZRNAVProject::U_OverlayTreeForComposition;
};

QRect brightRect(const QImage& frame) {
  QRect r;
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x)
      if (qGray(frame.pixel(x, y)) > 128) r |= QRect(x, y, 1, 1);
  return r;
}

class OverlayEdits : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = Test_MakeTempDir(QStringLiteral("overlays"));
    m_badge = picture(m_folder, "badge.png", {96, 96}, Qt::red);
    m_wide = picture(m_folder, "wide.png", {200, 100}, Qt::white);
  }
  QString m_folder, m_badge, m_wide;
};

}  // namespace

TEST_F(OverlayEdits, CommandKeysDefaultsAndColours) {
  ZRNSrcClip bare;
  EXPECT_EQ(bare.start(), -1);
  EXPECT_EQ(bare.srcDuration(), -1);
  EXPECT_TRUE(bare.discardAudio());
  auto clip = ZRNSrcClip::initWithDictionary<ZRNSrcClip>(command(R"({"id":"c1","srcMovie":""})"), QString());
  EXPECT_EQ(clip->start(), 0);
  EXPECT_TRUE(clip->assetKey().isNull());
  EXPECT_EQ(clip->IDString(), QStringLiteral("c1"));
  EXPECT_FALSE(ZRNSrcClip::initWithDictionary<ZRNSrcClip>(command(R"({"muteClip":false})"), {})->discardAudio());

  struct Colour {
    const char* json;
    QColor background;  // invalid: none set
  };
  for (const Colour& c : {Colour{R"({"info":{"backRGBColor":16711680,"backOpacity":0.5}})", QColor::fromRgbF(1, 0, 0, 0.5)},
                          Colour{R"({"info":{"backRGBColor":16711680,"backOpacity":0}})", QColor()},
                          Colour{R"({"info":{"backRGBColor":255}})", QColor::fromRgbF(0, 0, 1, 1)},
                          Colour{R"({"info":{}})", QColor()}}) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command(c.json), {})->backgroundColor(), c.background);
  }
  // Text colour: an opacity of 0 keeps white.
  EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command(R"({"info":{"textRGBColor":65280,"textOpacity":0}})"), {})
                ->textColor(),
            QColor::fromRgbF(1, 1, 1, 1));
  EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command(R"({"info":{"textRGBColor":65280}})"), {})->textColor(),
            QColor::fromRgbF(0, 1, 0, 1));

  // Match overlays: an opacity of 0 or none keeps 1.
  EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNMatchOverlayEdit>(command(R"({"opacity":0})"), {})->opacity(), 1.0);
  EXPECT_FLOAT_EQ(ZRNSrcClip::initWithDictionary<ZRNMatchOverlayEdit>(command(R"({"opacity":0.25})"), {})->opacity(), 0.25f);
}

TEST_F(OverlayEdits, PlacementsAlignmentsAndBadgeCorners) {
  struct Case {
    const char* placement;  // null: key missing
    int alignment;
    int badgePosition;
    Qt::Alignment text;
  };
  for (const Case& c : {Case{"tl", 1, 1, Qt::AlignLeft}, Case{"tc", 2, 1, Qt::AlignHCenter}, Case{"tr", 3, 3, Qt::AlignRight},
                        Case{"ml", 4, 1, Qt::AlignLeft}, Case{"mc", 5, 1, Qt::AlignHCenter}, Case{"mr", 6, 1, Qt::AlignRight},
                        Case{"bl", 7, 7, Qt::AlignLeft}, Case{"bc", 8, 1, Qt::AlignHCenter}, Case{"br", 9, 9, Qt::AlignRight},
                        Case{"TL", 1, 1, Qt::AlignLeft}, Case{nullptr, 1, 1, Qt::AlignLeft}}) {
    SCOPED_TRACE(c.placement ? c.placement : "(none)");
    QVariantMap info;
    if (c.placement) info.insert(QStringLiteral("placement"), QString::fromLatin1(c.placement));
    const QVariantMap d{{QStringLiteral("info"), info}};
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(d, {})->alignment(), c.alignment);
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(d, {})->U_GetParagraphAlignment(), c.text);
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNBadgeOverlayEdit>(d, {})->position(), c.badgePosition);
  }
}

TEST_F(OverlayEdits, PathsTimeRangesAndRates) {
  struct PathCase {
    QString base, path, resolved;
  };
  for (const PathCase& c : {PathCase{QStringLiteral("/a/b"), QStringLiteral("logo.png"), QStringLiteral("/a/b/logo.png")},
                            PathCase{QStringLiteral("/a/b"), QStringLiteral("/x/logo.png"), QStringLiteral("/x/logo.png")},
                            PathCase{QString(), QStringLiteral("logo.png"), QStringLiteral("logo.png")}}) {
    const QVariantMap d{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), c.path}}}};
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNImageOverlayEdit>(d, c.base)->imagePath(), c.resolved);
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNSoundEdit>(d, c.base)->soundPath(), c.resolved);
  }

  const MutableCompositionRef c = compositionOf(60000, {1280, 720});
  struct RangeCase {
    const char* json;
    int64_t clipStart, clipLength;   // a plain edit's range
    int64_t matchStart, matchLength;  // a match overlay's (to the composition's end)
  };
  for (const RangeCase& r : {RangeCase{R"({"start":5000,"duration":1000})", 5000, 1000, 5000, 55000},
                             RangeCase{R"({"start":59000,"duration":5000})", 59000, 1000, 59000, 1000},
                             RangeCase{R"({"start":60000,"duration":5000})", 0, 0, 0, 0}}) {
    SCOPED_TRACE(r.json);
    const auto plain = ZRNSrcClip::initWithDictionary<ZRNSrcClip>(command(r.json), {})->timeRangeForComposition(c);
    EXPECT_EQ(MediaTime_Millis(plain.start), r.clipStart);
    EXPECT_EQ(MediaTime_Millis(plain.duration), r.clipLength);
    const auto match = ZRNSrcClip::initWithDictionary<ZRNMatchOverlayEdit>(command(r.json), {})->timeRangeForComposition(c);
    EXPECT_EQ(MediaTime_Millis(match.start), r.matchStart);
    EXPECT_EQ(MediaTime_Millis(match.duration), r.matchLength);
    const auto score = ZRNSrcClip::initWithDictionary<ZRNScoreTitleEdit>(command(r.json), {})->timeRangeForComposition(c);
    EXPECT_EQ(MediaTime_Millis(score.duration), r.matchLength);
  }

  struct RateCase {
    const char* json;
    double rate;
  };
  for (const RateCase& r : {RateCase{R"({"duration":2000,"srcDuration":1000})", 2.0},
                            RateCase{R"({"duration":2000,"srcDuration":0})", 1.0}, RateCase{R"({"duration":500,"srcDuration":1000})", 0.5}})
    EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNSrcScaleEdit>(command(r.json), {})->rate(), r.rate) << r.json;
}

TEST_F(OverlayEdits, FontsSizesScoreStringsAndSoundLevels) {
  struct FontCase {
    const char* json;
    QString font;
    double points;
  };
  for (const FontCase& f : {FontCase{R"({"info":{}})", QStringLiteral("Helvetica"), 12},
                            FontCase{R"({"info":{"font":"","size":4}})", QStringLiteral("Helvetica"), 6},
                            FontCase{R"({"info":{"font":"DejaVu Sans","size":30}})", QStringLiteral("DejaVu Sans"), 30}}) {
    auto title = ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command(f.json), {});
    EXPECT_EQ(title->fontName(), f.font) << f.json;
    EXPECT_EQ(title->U_PointSize(), f.points) << f.json;
  }

  struct ScoreCase {
    const char* json;
    QPointF score;
    QString text;
  };
  for (const ScoreCase& s : {ScoreCase{R"({"info":{}})", {2, 1}, QStringLiteral(" Home 0-0 Away ")},
                             ScoreCase{R"({"info":{"formatString":"%@ %@ %.0f:%.0f"}})", {2, 1}, QStringLiteral("Home Away 2:1")},
                             // Conversions that do not fit their arguments show text instead of reading memory.
                             ScoreCase{R"({"info":{"formatString":"%s%n%d"}})", {0, 0}, QStringLiteral("Home")}}) {
    SCOPED_TRACE(s.json);
    const QString text = ZRNSrcClip::initWithDictionary<ZRNScoreTitleEdit>(command(s.json), {})
                             ->stringForScore(s.score, QStringLiteral("Home"), QStringLiteral("Away"));
    EXPECT_TRUE(text.startsWith(s.text)) << text.toStdString();
  }
  // A match time without a format keeps the empty default.
  EXPECT_EQ(ZRNSrcClip::initWithDictionary<ZRNTimecodeEdit>(command(R"({"info":{"periodID":2}})"), {})->formatString(),
            QString());
  auto period = ZRNSrcClip::initWithDictionary<ZRNTimecodeEdit>(command(R"({"info":{"startMillis":100,"endMillis":200}})"), {});
  EXPECT_TRUE(period->needsDisplayForTime(100));
  EXPECT_TRUE(period->needsDisplayForTime(200));
  EXPECT_FALSE(period->needsDisplayForTime(201));

  struct SoundCase {
    const char* json;
    double main, sound;
    bool discard;
  };
  for (const SoundCase& s : {SoundCase{R"({"info":{}})", 0.0, 1.0, true}, SoundCase{R"({"info":{"mainLevel":0.5}})", 0.5, 1.0, false},
                             SoundCase{R"({"info":{"segLevel":0.5}})", 0.0, 0.5, false}}) {
    auto sound = ZRNSrcClip::initWithDictionary<ZRNSoundEdit>(command(s.json), {});
    EXPECT_EQ(sound->mainLevel(), s.main) << s.json;
    EXPECT_EQ(sound->soundLevel(), s.sound) << s.json;
    EXPECT_EQ(sound->discardAudio(), s.discard) << s.json;
    EXPECT_FALSE(sound->audioTrack());
  }
}

TEST_F(OverlayEdits, PictureAndBadgeLayerGeometry) {
  // The picture overlay of 200 x 100 scaled to a width of 100 at the top-left, margin 0.
  QVariantMap d = command(R"({"info":{"placement":"tl","targetWidth":100}})");
  QVariantMap info = d.value(QStringLiteral("info")).toMap();
  info.insert(QStringLiteral("path"), m_wide);
  d.insert(QStringLiteral("info"), info);
  auto overlay = ZRNSrcClip::initWithDictionary<ZRNImageOverlayEdit>(d, {});
  EXPECT_EQ(overlay->U_CalculatePositionForSize({100, 50}, {1280, 720}, 0.5), QPointF(50, 335));
  CALayerRef layer = overlay->makeImageLayerWithSize({1280, 720}, {1280, 720});
  ASSERT_TRUE(layer);
  EXPECT_EQ(layer->bounds(), QRectF(0, 0, 100, 50));
  EXPECT_EQ(layer->position(), QPointF(100, 360));

  // Badges with the default reference sizes: 80 reference units high, margins of 40.
  struct BadgeCase {
    QSizeF frame;
    QRectF bounds;
    QPointF position;
  };
  for (const BadgeCase& b : {BadgeCase{{1920, 1080}, {0, 0, 120, 120}, {120, 1080 - 120}},
                             BadgeCase{{1280, 720}, {0, 0, 80, 80}, {80, 720 - 80}}}) {
    QVariantMap bd{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), m_badge}}}};
    auto badge = ZRNSrcClip::initWithDictionary<ZRNBadgeOverlayEdit>(bd, {});
    EXPECT_FALSE(badge->animateInOut());
    CALayerRef l = badge->makeImageLayerWithSize(b.frame, b.frame);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->bounds(), b.bounds);
    EXPECT_EQ(l->position(), b.position);
  }

  // Devices and pipes named by a command are not opened (reading them would block or never end).
  const QString pipe = QDir(m_folder).filePath(QStringLiteral("pipe.png"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  for (const QString& path : {pipe, QStringLiteral("/dev/zero")}) {
    const QVariantMap info{{QStringLiteral("path"), path}};
    EXPECT_TRUE(ZRNSrcClip::initWithDictionary<ZRNBadgeOverlayEdit>({{QStringLiteral("info"), info}}, {})->image().isNull());
    EXPECT_FALSE(ZRNSrcClip::initWithDictionary<ZRNSoundEdit>({{QStringLiteral("info"), info}}, {})->audioAsset());
  }

  // A picture that cannot be read gives no layer content, and no sizes that are not numbers.
  QVariantMap missing{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), QStringLiteral("nothing.png")}}}};
  for (auto edit : {std::static_pointer_cast<ZRNImageOverlayEdit>(ZRNSrcClip::initWithDictionary<ZRNBadgeOverlayEdit>(missing, m_folder)),
                    ZRNSrcClip::initWithDictionary<ZRNImageOverlayEdit>(missing, m_folder)}) {
    EXPECT_TRUE(edit->image().isNull());
    CALayerRef built = edit->buildLayerForComposition(compositionOf(1000, {640, 360}), {640, 360});
    ASSERT_TRUE(built);
    EXPECT_TRUE(built->sublayers().isEmpty());
  }
}

TEST_F(OverlayEdits, BuiltLayersFadeOrShowAtOnce) {
  const MutableCompositionRef c = compositionOf(10000, {640, 360});
  auto title = ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command(R"({"start":1000,"duration":9000,"info":{"text":"Hi"}})"), {});
  CALayerRef layer = title->buildLayerForComposition(c, {640, 360});
  EXPECT_EQ(layer, title->caLayer());
  EXPECT_TRUE(layer->masksToBounds());
  EXPECT_EQ(layer->opacity(), 0.0f);
  ASSERT_EQ(layer->animationKeys(), QStringList{title->U_FadeAnimationKey()});
  CAKeyframeAnimation fade;
  ASSERT_TRUE(layer->animationForKey(title->U_FadeAnimationKey(), &fade));
  EXPECT_EQ(fade.beginTime, 1.0);
  EXPECT_EQ(fade.duration, 9.0);
  EXPECT_EQ(fade.values, (QList<double>{0.9, 1.0, 1.0, 0.0}));
  EXPECT_EQ(fade.keyTimes, (QList<double>{0.0, 0.01, 0.99, 1.0}));
  EXPECT_FALSE(fade.removedOnCompletion);

  auto atZero = ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command(R"({"start":0,"duration":10000})"), {});
  atZero->setExporting(true);
  atZero->buildLayerForComposition(c, {640, 360})->animationForKey(atZero->U_FadeAnimationKey(), &fade);
  EXPECT_EQ(fade.beginTime, AVCoreAnimationBeginTimeAtZero);
  EXPECT_EQ(fade.values.first(), 0.0);

  QVariantMap bd{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), m_badge}}}};
  auto badge = ZRNSrcClip::initWithDictionary<ZRNBadgeOverlayEdit>(bd, {});
  CALayerRef shown = badge->buildLayerForComposition(c, {640, 360});
  EXPECT_EQ(shown->opacity(), 1.0f);
  EXPECT_TRUE(shown->animationKeys().isEmpty());
  EXPECT_EQ(shown->sublayers().size(), 1);
}

TEST_F(OverlayEdits, RenderedBadgeSitsInItsCorner) {
  struct Case {
    const char* placement;
    QSize frame;
    QRect badge;  // rows run downwards
  };
  for (const Case& c : {Case{"tl", {1280, 720}, {40, 40, 80, 80}}, Case{"tr", {1280, 720}, {1160, 40, 80, 80}},
                        Case{"bl", {1280, 720}, {40, 600, 80, 80}}, Case{"br", {1280, 720}, {1160, 600, 80, 80}},
                        Case{"mc", {1280, 720}, {40, 40, 80, 80}}, Case{"tl", {1920, 1080}, {60, 60, 120, 120}}}) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(QLatin1String(c.placement)).arg(c.frame.width()).toStdString());
    ExportTree project;
    project.setSpecs(QVariantMap{{QStringLiteral("graphics"),
                                  QVariantList{QVariantMap{{QStringLiteral("info"),
                                                            QVariantMap{{QStringLiteral("path"), QStringLiteral("badge.png")},
                                                                        {QStringLiteral("placement"), QString::fromLatin1(c.placement)}}}}}}},
                     QSizeF(c.frame), {}, m_folder);
    ASSERT_TRUE(project.hasOverlayEdits());
    const QImage frame = project.render(compositionOf(5000, QSizeF(c.frame)), 1.0);
    QRect red;
    for (int y = 0; y < frame.height(); ++y)
      for (int x = 0; x < frame.width(); ++x)
        if (qRed(frame.pixel(x, y)) > 128) red |= QRect(x, y, 1, 1);
    EXPECT_EQ(red, c.badge);
  }
}

TEST_F(OverlayEdits, RenderedTitlesFollowTheirPlacement) {
  const MutableCompositionRef c = compositionOf(10000, {640, 360});
  for (const char* placement : {"tr", "bc"}) {
    SCOPED_TRACE(placement);
    ExportTree project;
    QVariantMap info{{QStringLiteral("placement"), QString::fromLatin1(placement)},
                     {QStringLiteral("margin"), 20},
                     {QStringLiteral("size"), 40},
                     {QStringLiteral("formatString"), QStringLiteral("SCORE")}};
    project.setSpecs(QVariantMap{{QStringLiteral("titles"), QVariantList{QVariantMap{{QStringLiteral("info"), info}}}}},
                     QSizeF(640, 360), {}, QString());
    auto title = project.matchScoreEdits().value(0);
    ASSERT_TRUE(title);
    EXPECT_EQ(title->titleText(), QStringLiteral("SCORE"));
    const QImage frame = project.render(c, 5.0);
    const QRect text = brightRect(frame);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_GT(text.width(), 60);
    if (QLatin1String(placement) == QLatin1String("tr")) {
      EXPECT_LE(text.right(), 640 - 20);
      EXPECT_GE(text.right(), 640 - 20 - 8);
      EXPECT_GE(text.top(), 20);
      EXPECT_LE(text.top(), 20 + 15);
      EXPECT_EQ(title->U_GetLayerTextAlignment(), QLatin1String(kCAAlignmentRight));
    } else {
      EXPECT_NEAR(text.center().x(), 320, 4);
      EXPECT_LE(text.bottom(), 360 - 20);
      EXPECT_GE(text.bottom(), 360 - 20 - 20);
      EXPECT_EQ(title->U_GetLayerTextAlignment(), QLatin1String(kCAAlignmentCenter));
    }
  }
}

TEST_F(OverlayEdits, FadingOverlayOpacityAcrossItsSpan) {
  // A white picture from 1 s to the end of a 11 s composition: a span of 10 s.
  const MutableCompositionRef c = compositionOf(11000, {1280, 720});
  struct Case {
    double fraction;
    bool exporting;
    int grey;
  };
  for (const Case& k : {Case{0.0, true, 0}, Case{0.005, true, 128}, Case{0.5, true, 255}, Case{0.995, true, 128},
                        Case{0.0, false, 230}, Case{-0.05, true, 0}}) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(k.fraction).arg(k.exporting).toStdString());
    EngineTree project;
    QVariantMap info{{QStringLiteral("path"), m_wide}, {QStringLiteral("placement"), QStringLiteral("tl")},
                     {QStringLiteral("targetWidth"), 100}};
    // The dictionary engine's picture overlays fade; the capture project's badges do not.
    project.loadEditCommands(QVariantMap{
        {QStringLiteral("graphics"), QVariantList{QVariantMap{{QStringLiteral("start"), 1000}, {QStringLiteral("info"), info}}}}});
    ASSERT_EQ(project.getVideoOverlayEdits().size(), 1);
    CALayerRef parent = CALayer::layer();
    parent->setFrame(QRectF(0, 0, 1280, 720));
    parent->addSublayer(project.U_OverlayTreeForComposition(c, {1280, 720}, k.exporting, k.exporting));
    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(Qt::black);
    LayerRenderer_RenderOverImage(frame, parent, 1.0 + 10.0 * k.fraction);
    // The picture's centre is at (100, 360) of the frame.
    EXPECT_NEAR(qGray(frame.pixel(100, 360)), k.grey, 3);
    EXPECT_EQ(qGray(frame.pixel(300, 360)), 0);
  }
}

TEST_F(OverlayEdits, BitmapContextsAndPicturesIntoRectangles) {
  struct Row {
    int64_t width;
    qsizetype bytesPerRow;
  };
  for (const Row& r : {Row{1281, 5136}, Row{1280, 5120}, Row{1, 16}}) {
    const QImage context = ZRNCreateBitmapContextARGB(r.width, 2);
    ASSERT_FALSE(context.isNull());
    EXPECT_EQ(context.bytesPerLine(), r.bytesPerRow);
    EXPECT_EQ(context.pixel(0, 1), 0u);
  }
  EXPECT_TRUE(ZRNCreateBitmapContextARGB(0, 10).isNull());
  // The offscreen test screen has a scale of its own.
  EXPECT_GE(ZRNMaxScreenBackingScale(), 1.0);
  EXPECT_TRUE(ZRNCreateBitmapContextARGB(1LL << 40, 1LL << 40).isNull());

  // A small picture goes to the top-left corner at its own size; a large one is cropped from its
  // top-left corner into the whole context.
  QImage small(100, 50, QImage::Format_ARGB32);
  small.fill(Qt::red);
  QImage context = ZRNCreateBitmapContextARGB(640, 360);
  ZRNDrawImageInContextRect(small, context, 640, 360);
  EXPECT_EQ(context.pixelColor(99, 49), QColor(Qt::red));
  EXPECT_EQ(context.pixelColor(100, 50).alpha(), 0);
  QImage large(1920, 1080, QImage::Format_ARGB32);
  large.fill(Qt::blue);
  for (int y = 0; y < 720; ++y)
    for (int x = 0; x < 1280; ++x) large.setPixelColor(x, y, Qt::green);
  QImage whole = ZRNCreateBitmapContextARGB(1280, 720);
  ZRNDrawImageInContextRect(large, whole, 1280, 720);
  EXPECT_EQ(whole.pixelColor(0, 0), QColor(Qt::green));
  EXPECT_EQ(whole.pixelColor(1279, 719), QColor(Qt::green));
}

TEST_F(OverlayEdits, TimeUpdateSetsMatchTimeAndScoreTexts) {
  ZRNAppPrefs prefs;
  prefs.setShowMatchTimes(true);
  ExportTree project;
  project.setHomeTeam(QStringLiteral("H"));
  project.setGuestTeam(QStringLiteral("G"));
  project.setSpecs(QVariantMap{{QStringLiteral("titles"), QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{}}}}},
                               {QStringLiteral("timecodes"),
                                QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{{QStringLiteral("formatString"),
                                                                                               QStringLiteral("%@ ")}}}}}}},
                   QSizeF(640, 360), {}, QString());
  ZRNMatchPeriod second(2);
  second.setStartMillis(10000);
  second.setEndMillis(20000);
  project.setPeriods({second});
  ZRNGoalTag goal;
  goal.setTeamNum(2);
  goal.setEventMillis(15000);
  project.setMatchGoals({goal});
  const auto score = project.matchScoreEdits().value(0);
  const auto clock = project.timecodes().value(0);
  ASSERT_TRUE(score && clock);
  EXPECT_EQ(score->titleText(), QStringLiteral(" H 0-0 G "));
  // The display tree: one layer per overlay, each with its content.
  project.setSegmentAssetsArray({Asset::assetWithPath(QStringLiteral("/nonexistent.mp4"))});
  CALayerRef tree = project.displayOverlaysLayer();
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->sublayers().size(), 2);
  EXPECT_EQ(project.displayOverlaysLayer(), tree);

  project.updateLayersForTime(MediaTimeMake(65500 + 10000, 1000), QSizeF(320, 180));
  EXPECT_EQ(clock->titleText(), QString());  // 75.5 s is outside the period: hidden, text unchanged
  EXPECT_FALSE(clock->titleVisible());
  project.updateLayersForTime(MediaTimeMake(16000, 1000), QSizeF(320, 180));
  EXPECT_EQ(clock->titleText(), QStringLiteral("00:06 - 2"));
  EXPECT_TRUE(clock->titleVisible());
  EXPECT_EQ(clock->caLayer()->sublayers().size(), 1);
  EXPECT_EQ(clock->caLayer()->sublayers()[0]->bounds(), QRectF(0, 0, 320, 180));
  EXPECT_EQ(score->titleText(), QStringLiteral(" H 0-0 G "));
  EXPECT_EQ(score->stringForScore(project.matchScoreForTime(16000), QStringLiteral("H"), QStringLiteral("G")),
            QStringLiteral(" H 0-0 G "));
  EXPECT_EQ(score->caLayer()->sublayers().size(), 1);
  project.updateLayersForTime(MediaTimeMake(25000, 1000), QSizeF(320, 180));
  EXPECT_TRUE(clock->caLayer()->sublayers().isEmpty());

  // With match times turned off nothing changes.
  prefs.setShowMatchTimes(false);
  project.updateLayersForTime(MediaTimeMake(12000, 1000), QSizeF(320, 180));
  EXPECT_EQ(clock->titleText(), QStringLiteral("00:06 - 2"));
}

TEST_F(OverlayEdits, PosterFitsThePictureOnBlackWithItsFirstGraphicAndTitle) {
  const QVariantMap commands{
      {QStringLiteral("width"), 200},
      {QStringLiteral("height"), 200},
      {QStringLiteral("titles"),
       QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{{QStringLiteral("text"), QStringLiteral("POSTER")},
                                                                     {QStringLiteral("placement"), QStringLiteral("bc")},
                                                                     {QStringLiteral("size"), 24},
                                                                     {QStringLiteral("textRGBColor"), 0x00FF00}}}}}}};
  // The 200 x 100 white picture doubled to 200 x 100 in 200 x 200: black above and below.
  const QImage poster = ZRNPosterImageFromSpec(m_wide, commands);
  ASSERT_EQ(poster.size(), QSize(200, 200));
  EXPECT_EQ(poster.pixelColor(100, 20), QColor(Qt::black));
  EXPECT_EQ(poster.pixelColor(100, 100), QColor(Qt::white));
  int green = 0;
  for (int y = 150; y < 200; ++y)
    for (int x = 0; x < 200; ++x) green += qGreen(poster.pixel(x, y)) > 200 && qRed(poster.pixel(x, y)) < 100;
  EXPECT_GT(green, 20);
  EXPECT_TRUE(ZRNPosterImageFromSpec(m_folder + QStringLiteral("/missing.png"), commands).isNull());
}
