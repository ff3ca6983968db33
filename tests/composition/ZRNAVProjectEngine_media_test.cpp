// The project's edit engine on real movies: clips (one at double speed), a picture, a sound mixed over
// the movie, frame images and chapters.

#include "composition/ZRNAVProject.h"
#include "composition/ZRNAVProjectFunctions.h"
#include "composition/ZRNImageOverlayEdit.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QString runFFmpeg(const QStringList& args) {
  bool ok = false;
  QString errors;
  TestMovie_Run(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + args,
                &ok, &errors);
  return ok ? QString() : errors;
}

class ProjectEngineMedia : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = Test_MakeTempDir(QStringLiteral("engine"));
    s_a = TestMovie_Make(s_folder, QStringLiteral("a.mp4"), {.seconds = 4.0});
    s_b = TestMovie_Make(s_folder, QStringLiteral("b.mp4"), {.seconds = 3.0});
    s_tone = QDir(s_folder).filePath(QStringLiteral("tone.m4a"));
    runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
               QStringLiteral("sine=frequency=880:sample_rate=48000:duration=2"), QStringLiteral("-c:a"), QStringLiteral("aac"), s_tone});
    QImage picture(100, 50, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    picture.save(QDir(s_folder).filePath(QStringLiteral("pic.png")));
  }
  static QString s_folder, s_a, s_b, s_tone;
};
QString ProjectEngineMedia::s_folder, ProjectEngineMedia::s_a, ProjectEngineMedia::s_b, ProjectEngineMedia::s_tone;

QVariantMap clip(const char* movie, int srcStart, int srcDuration, int duration) {
  return {{QStringLiteral("srcMovie"), QString::fromLatin1(movie)},
          {QStringLiteral("srcStart"), srcStart},
          {QStringLiteral("srcDuration"), srcDuration},
          {QStringLiteral("duration"), duration}};
}

}  // namespace

TEST_F(ProjectEngineMedia, TwoClipsAPictureAndAMixedSound) {
  ASSERT_FALSE(s_a.isEmpty() || s_b.isEmpty() || !QFile::exists(s_tone));
  const AssetRef a = Asset::assetWithPath(s_a), b = Asset::assetWithPath(s_b);
  QVariantMap fast = clip("b", 500, 1000, 2000);
  fast.insert(QStringLiteral("muteClip"), true);
  const QVariantMap commands{
      {QStringLiteral("width"), 320},
      {QStringLiteral("height"), 240},
      {QStringLiteral("clips"), QVariantList{clip("a", 0, 2000, 2000), fast}},
      {QStringLiteral("graphics"),
       QVariantList{QVariantMap{{QStringLiteral("start"), 0},
                                {QStringLiteral("duration"), 4000},
                                {QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), QStringLiteral("pic.png")}}}}}},
      {QStringLiteral("sounds"),
       QVariantList{QVariantMap{{QStringLiteral("start"), 500},
                                {QStringLiteral("duration"), 1000},
                                {QStringLiteral("srcStart"), 0},
                                {QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), QStringLiteral("tone.m4a")},
                                                                     {QStringLiteral("mainLevel"), 0.5},
                                                                     {QStringLiteral("segLevel"), 0.5}}}}}}};
  ZRNAVProject project;
  project.setSpecs(commands, {{QStringLiteral("a"), a}, {QStringLiteral("b"), b}}, s_folder);
  EXPECT_EQ(project.videoSize(), QSizeF(320, 240));
  const QList<ZRNEditRef> video = project.getVideoEdits();
  ASSERT_EQ(video.size(), 2);
  EXPECT_TRUE(ZRNEdit_IsExactly<ZRNSrcClip>(video[0].get()));
  ASSERT_TRUE(ZRNEdit_IsExactly<ZRNSrcScaleEdit>(video[1].get()));
  EXPECT_EQ(static_cast<ZRNSrcScaleEdit*>(video[1].get())->rate(), 2.0);
  EXPECT_EQ(project.getVideoOverlayEdits().size(), 1);
  EXPECT_TRUE(project.needsAudioMix());
  EXPECT_FALSE(project.needsSizeTransform());

  // The double-speed clip takes twice its source span on the time line.
  const MutableCompositionRef c = project.editedComposition();
  EXPECT_EQ(MediaTime_Millis(c->duration()), 4000);
  EXPECT_EQ(c->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio)).size(), 2);
  const auto videoTrack = c->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)).value(0);
  ASSERT_TRUE(videoTrack);
  const auto segments = videoTrack->segments();
  ASSERT_EQ(segments.size(), 2);
  EXPECT_EQ(MediaTime_Millis(segments[1].timeMapping.target.duration), 2000);
  EXPECT_EQ(MediaTime_Millis(segments[1].timeMapping.source.duration), 1000);

  // The movie's sound dips to 0.5 and the tone rises to 0.5 within a millisecond at each end.
  const MutableAudioMixRef mix = project.audioMix();
  ASSERT_TRUE(mix);
  ASSERT_EQ(mix->inputParameters().size(), 2);
  const auto main = mix->inputParameters()[0], tone = mix->inputParameters()[1];
  struct Level {
    int millis;
    float main, tone;
  };
  for (const Level& l : {Level{0, 1.0f, 0.0f}, Level{499, 1.0f, 0.0f}, Level{501, 0.5f, 0.5f}, Level{1498, 0.5f, 0.5f},
                         Level{1500, 1.0f, 0.0f}, Level{3000, 1.0f, 0.0f}}) {
    SCOPED_TRACE(l.millis);
    EXPECT_NEAR(main->volumeAtTime(MediaTimeMake(l.millis, 1000)), l.main, 1e-3);
    EXPECT_NEAR(tone->volumeAtTime(MediaTimeMake(l.millis, 1000)), l.tone, 1e-3);
  }
  EXPECT_NEAR(main->volumeAtTime(MediaTimeMake(5005, 10000)), 0.75f, 1e-3);

  // Frames: at 3 s the double-speed clip shows its source at 1.0 s (500 + 1000 / 2).
  const QImage shown = project.copyFrameImageAtTime(3000, true);
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.size(), QSize(320, 240));
  EXPECT_EQ(shown, ZRNCopyImageAtTime(b, MediaTimeMake(1000, 1000), true));
  EXPECT_NE(shown, ZRNCopyImageAtTime(b, MediaTimeMake(1500, 1000), true));
  // The frame image carries the picture in its top-left corner at its own size.
  const QImage framed = project.frameImageForTime(1000, true, true);
  ASSERT_EQ(framed.size(), QSize(320, 240));
  EXPECT_EQ(framed.pixelColor(50, 25), QColor(Qt::red));
  EXPECT_NE(framed.pixelColor(150, 120), QColor(Qt::red));
  const QImage plain = project.frameImageForTime(1000, false, false);
  EXPECT_NE(plain.pixelColor(50, 25), QColor(Qt::red));

  // The engine's project exports with its mix.
  AssetExportSessionRef session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetHighestQuality));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->audioMix(), project.exportedAudioMix());
  const QString out = QDir(s_folder).filePath(QStringLiteral("engine.mp4"));
  session->setOutputURL(QUrl::fromLocalFile(out));
  ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
  EXPECT_NEAR(TestMovie_Duration(out), 4.0, 0.1);
}

TEST_F(ProjectEngineMedia, ClipsWithoutLengthsTakeTheWholeMovieAndSourcesAreFittedToTheRenderSize) {
  const AssetRef a = Asset::assetWithPath(s_a);
  ZRNAVProject project;
  project.setSpecs({{QStringLiteral("width"), 640},
                    {QStringLiteral("height"), 360},
                    {QStringLiteral("clips"), QVariantList{QVariantMap{{QStringLiteral("srcMovie"), QStringLiteral("a")}}}}},
                   {{QStringLiteral("a"), a}}, QString());
  const QList<ZRNEditRef> video = project.getVideoEdits();
  ASSERT_EQ(video.size(), 1);
  EXPECT_EQ(video[0]->duration(), MediaTime_Millis(a->duration()));
  EXPECT_EQ(video[0]->srcDuration(), video[0]->duration());
  // 320 x 240 in 640 x 360: scaled by 1.5 and centred across.
  EXPECT_TRUE(project.needsSizeTransform());
  AssetExportSessionRef session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetHighestQuality));
  ASSERT_TRUE(session);
  const MutableVideoCompositionRef vc = session->videoComposition();
  EXPECT_EQ(vc->renderSize(), QSizeF(640, 360));
  ASSERT_EQ(vc->instructions().size(), 1);
  const QTransform t = vc->instructions()[0]->layerInstructions()[0]->transformAtTime(kMediaTimeZero);
  EXPECT_EQ(t.map(QPointF(0, 0)), QPointF(80, 0));
  EXPECT_EQ(t.map(QPointF(320, 240)), QPointF(560, 360));
}

TEST_F(ProjectEngineMedia, ExactFramesOfAFragmentedMovieMatchThoseOfItsPlainCopy) {
  // The same packets laid out as the recorder writes them: fragments of one second.
  const QString fragmented = QDir(s_folder).filePath(QStringLiteral("fragmented.mp4"));
  ASSERT_EQ(runFFmpeg({QStringLiteral("-i"), s_a, QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-movflags"),
                       QStringLiteral("frag_keyframe+empty_moov+default_base_moof"), fragmented}),
            QString());
  const AssetRef plain = Asset::assetWithPath(s_a), frag = Asset::assetWithPath(fragmented);
  // The remuxed copy has no edit list: its frames come two frame times later than in the plain movie.
  for (int frame : {45, 67, 100, 117}) {
    SCOPED_TRACE(frame);
    const QImage expected = ZRNCopyImageAtTime(plain, MediaTimeMake(frame, 30), true);
    ASSERT_FALSE(expected.isNull());
    EXPECT_EQ(ZRNCopyImageAtTime(frag, MediaTimeMake(frame + 2, 30), true), expected);
    EXPECT_NE(ZRNCopyImageAtTime(frag, MediaTimeMake(frame + 3, 30), true), expected);
  }
  // Without exactness the key frame at or before the time is enough.
  EXPECT_EQ(ZRNCopyImageAtTime(plain, MediaTimeMake(1500, 1000), false), ZRNCopyImageAtTime(plain, MediaTimeMake(1000, 1000), true));
}

TEST_F(ProjectEngineMedia, ChaptersComeFromTheMovie) {
  const QString meta = QDir(s_folder).filePath(QStringLiteral("chapters.txt"));
  QFile file(meta);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Kick-off\n"
             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=4000\ntitle=Second half\n");
  file.close();
  const QString cover = QDir(s_folder).filePath(QStringLiteral("cover.png"));
  QImage art(32, 32, QImage::Format_RGB32);
  art.fill(Qt::yellow);
  ASSERT_TRUE(art.save(cover));
  const QString movie = QDir(s_folder).filePath(QStringLiteral("chapters.mp4"));
  ASSERT_EQ(runFFmpeg({QStringLiteral("-i"), s_a, QStringLiteral("-i"), meta, QStringLiteral("-i"), cover, QStringLiteral("-map"),
                       QStringLiteral("0"), QStringLiteral("-map"), QStringLiteral("2"), QStringLiteral("-map_chapters"), QStringLiteral("1"),
                       QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-disposition:v:1"), QStringLiteral("attached_pic"), movie}),
            QString());
  const QList<QVariantMap> chapters = ZRNChaptersOfAsset(Asset::assetWithPath(movie));
  ASSERT_EQ(chapters.size(), 2);
  EXPECT_DOUBLE_EQ(chapters[0].value(QString::fromLatin1(kChapterStart)).toDouble(), 0.0);
  EXPECT_DOUBLE_EQ(chapters[0].value(QString::fromLatin1(kChapterDuration)).toDouble(), 1.5);
  EXPECT_EQ(chapters[0].value(QString::fromLatin1(kChapterTitle)).toString(), QStringLiteral("Kick-off"));
  EXPECT_DOUBLE_EQ(chapters[1].value(QString::fromLatin1(kChapterStart)).toDouble(), 1.5);
  EXPECT_EQ(chapters[1].value(QString::fromLatin1(kChapterTitle)).toString(), QStringLiteral("Second half"));
  const QImage artwork = chapters[1].value(QString::fromLatin1(kChapterImage)).value<QImage>();
  ASSERT_FALSE(artwork.isNull());
  EXPECT_EQ(artwork.size(), QSize(32, 32));
  // A movie without chapters has none.
  EXPECT_TRUE(ZRNChaptersOfAsset(Asset::assetWithPath(s_a)).isEmpty());
}

// A sound edit whose file cannot be read leaves silence of its length: the movie's own sound and the
// sounds after it keep their times, whether the edit replaces the movie's sound or is mixed over it.
TEST_F(ProjectEngineMedia, ASoundThatCannotBeReadLeavesSilenceAndEveryLaterSoundKeepsItsTime) {
  // Ten seconds whose own sound is quiet (about -41 dB), so the louder tone (about -21 dB) and silence
  // tell themselves apart from it.
  const QString movie = QDir(s_folder).filePath(QStringLiteral("quiet.mp4"));
  ASSERT_EQ(runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("testsrc=size=320x240:rate=30:duration=10"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                       QStringLiteral("-i"), QStringLiteral("sine=frequency=440:sample_rate=48000:duration=10,volume=0.1"),
                       QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("veryfast"),
                       QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:a"), QStringLiteral("aac"), movie}),
            QString());
  const QString unreadable = QDir(s_folder).filePath(QStringLiteral("not-a-sound.m4a"));
  {
    QFile bad(unreadable);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'x'));
  }
  auto sound = [](int start, const QString& path, const QVariantMap& levels) {
    QVariantMap info = levels;
    info.insert(QStringLiteral("path"), path);
    return QVariantMap{{QStringLiteral("start"), start},
                       {QStringLiteral("duration"), 1000},
                       {QStringLiteral("srcStart"), 0},
                       {QStringLiteral("info"), info}};
  };
  struct Case {
    const char* name;
    QVariantMap levels;
    const char* missing;
  };
  const QVariantMap replacing;  // no levels: the movie's sound gives way entirely
  const QVariantMap mixing{{QStringLiteral("mainLevel"), 0.0}, {QStringLiteral("segLevel"), 0.9}};
  const Case cases[] = {{"replacing, file missing", replacing, "missing.m4a"},
                        {"replacing, file no sound", replacing, "not-a-sound.m4a"},
                        {"mixed over, file missing", mixing, "missing.m4a"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The readable tone at 6 s comes first in the list; the unreadable sound at 2 s is laid down after it.
    const QVariantMap commands{
        {QStringLiteral("width"), 320},
        {QStringLiteral("height"), 240},
        {QStringLiteral("clips"), QVariantList{clip("m", 0, 10000, 10000)}},
        {QStringLiteral("sounds"), QVariantList{sound(6000, QStringLiteral("tone.m4a"), c.levels),
                                                sound(2000, QString::fromLatin1(c.missing), c.levels)}}};
    ZRNAVProject project;
    project.setSpecs(commands, {{QStringLiteral("m"), Asset::assetWithPath(movie)}}, s_folder);
    EXPECT_EQ(MediaTime_Millis(project.editedComposition()->duration()), 10000);
    AssetExportSessionRef session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetHighestQuality));
    ASSERT_TRUE(session);
    const QString out = QDir(s_folder).filePath(QStringLiteral("silence-%1.mp4").arg(&c - cases));
    session->setOutputURL(QUrl::fromLocalFile(out));
    ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();

    const double soundLength = TestMovie_Probe(out, QStringLiteral("stream=duration"), QStringLiteral("a:0")).toDouble();
    EXPECT_NEAR(soundLength, 10.0, 0.15) << "the sound track keeps the movie's length";
    enum Heard { Silence, Movie, Tone };
    struct Stretch {
      double from, to;
      Heard heard;
    };
    // Each stretch is checked a block away from its edges (the encoders' delays move them a little).
    const Stretch expected[] = {{0.2, 1.8, Movie}, {2.1, 2.8, Silence}, {3.2, 5.8, Movie},
                                {6.1, 6.8, Tone},  {7.2, 9.7, Movie}};
    const auto levels = TestMovie_AudioLevels(out);
    ASSERT_GT(levels.size(), 90);
    for (const auto& [time, db] : levels) {
      for (const Stretch& s : expected) {
        if (time < s.from || time > s.to) continue;
        SCOPED_TRACE(time);
        if (s.heard == Silence) EXPECT_LT(db, -70.0);
        if (s.heard == Movie) EXPECT_NEAR(db, -41.0, 6.0);
        if (s.heard == Tone) EXPECT_GT(db, -30.0);
      }
    }
  }
}
