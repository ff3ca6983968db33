#include "composition/VL_ExportJobRecord.h"

#include "session/VLDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

ExportSettingsRef Settings(int64_t type, int64_t start, int64_t duration) {
  auto settings = std::make_shared<QVariantMap>();
  settings->insert(QStringLiteral("activityType"), QVariant::fromValue<qint64>(type));
  settings->insert(QStringLiteral("startTimeMillis"), QVariant::fromValue<qint64>(start));
  settings->insert(QStringLiteral("durationMillis"), QVariant::fromValue<qint64>(duration));
  return settings;
}

TEST(VL_ExportJobRecord, NewJobTextsAndBadgesByActivityType) {
  struct Case {
    int64_t type;
    const char *title, *badge, *description, *tip;
    bool hasImage;
  } const cases[] = {
      {101, "Manual Clip", "CLIP", "Duration 00:20 at 00:05", "Clip with duration 00:20 at 00:05", true},
      {102, "Automatic Clip", "CLIP", "Duration 00:20 at 00:05", "Automatic clip with duration 00:20 at 00:05", true},
      {103, "Session Movie", "MOV", "Duration 00:20", "Movie file with duration 00:20", true},
      {0, "", "", "...", "...", false},
      {104, "", "", "...", "...", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ExportSettingsRef settings = Settings(c.type, 5000, 20000);
    VL_ExportJobRecord job(settings);
    EXPECT_EQ(job.title(), QString::fromUtf8(c.title));
    EXPECT_EQ(job.activityBadgeString(), QString::fromUtf8(c.badge));
    EXPECT_EQ(job.descriptionString(), QString::fromUtf8(c.description));
    EXPECT_EQ(job.descriptionTipString(), QString::fromUtf8(c.tip));
    EXPECT_EQ(!job.badgeImage().isNull(), c.hasImage);
    // The job enters itself into the dictionary it was given.
    EXPECT_EQ(ZRN_JobRecord::jobOfSettings(*settings), &job);
  }
}

TEST(VL_ExportJobRecord, ProgressTextByStatusTypeAndCancellation) {
  struct Case {
    int64_t type, status;
    bool cancelled;
    const char* progress;
    bool finished;
  } const cases[] = {
      {102, 0, false, "Waiting...", false}, {102, 1, false, "Exporting...", false}, {0, 1, false, "", false},
      {103, 2, false, "Finished", true},    {101, 3, false, "", false},             {102, 1, true, "Exporting...", true},
      {102, 0, true, "Waiting...", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << "/" << c.status << "/" << c.cancelled);
    VL_ExportJobRecord job(Settings(c.type, 0, 1000));
    job.setStatus(c.status);
    job.setCancelled(c.cancelled);
    EXPECT_EQ(job.progressString(), QString::fromUtf8(c.progress));
    EXPECT_EQ(job.isFinished(), c.finished);
  }
}

TEST(VL_ExportJobRecord, SavedDictionaryRoundTrip) {
  ExportSettingsRef settings = Settings(102, 5000, 20000);
  VL_ExportJobRecord job(settings);
  job.setComment(QStringLiteral("second half"));
  job.setDisplayExpanded(true);
  const QVariantMap saved = job.dictionaryToSave();
  const QStringList keys{"activityBadgeString", "activityType", "cancelled", "comment", "date",
                         "displayExpanded",     "exportSettings", "status",  "title"};
  EXPECT_EQ(saved.keys(), keys);
  EXPECT_EQ(saved.value("exportSettings").toMap().keys(), (QStringList{"durationMillis", "startTimeMillis"}));
  EXPECT_TRUE(settings->contains("exportJob"));  // saving leaves the live settings alone

  job.setTargetPath(QStringLiteral("/clips/VLClip_00.05.mp4"));
  job.setStatus(kJobStatusFinished);
  const QVariantMap finished = job.dictionaryToSave();
  EXPECT_EQ(finished.value("targetPath").toString(), QStringLiteral("/clips/VLClip_00.05.mp4"));
  EXPECT_EQ(finished.value("targetIsFolder"), QVariant(false));
  EXPECT_FALSE(finished.contains("descriptionString"));

  VL_ExportJobRecord loaded(finished);
  EXPECT_EQ(loaded.date(), job.date());
  EXPECT_EQ(loaded.exportSettings()->value("activityType").toLongLong(), 102);
  EXPECT_EQ(loaded.dictionaryToSave(), finished);

  // A stored description is carried through save and load; the shown one stays computed.
  QVariantMap withDescription = finished;
  withDescription.insert("descriptionString", QStringLiteral("old text"));
  VL_ExportJobRecord described(withDescription);
  EXPECT_EQ(described.descriptionString(), QStringLiteral("Duration 00:20 at 00:05"));
  EXPECT_EQ(described.dictionaryToSave().value("descriptionString").toString(), QStringLiteral("old text"));
}

TEST(VL_ExportJobRecord, DefaultClipTitleFollowsTheTarget) {
  VL_ExportJobRecord job(Settings(101, 65000, 3000));
  EXPECT_EQ(job.defaultClipTitle(), QStringLiteral("Manual Clip"));
  int tipChanges = 0;
  QObject::connect(&job, &ZRN_JobRecord::descriptionTipStringChanged, [&] { ++tipChanges; });
  job.setTargetPath(QStringLiteral("/x/Game Clips/VLClip_1.05_2.mp4"));
  EXPECT_EQ(tipChanges, 1);
  EXPECT_EQ(job.defaultClipTitle(), QStringLiteral("VLClip_1.05_2"));
}

TEST(VL_ExportJobRecord, SettingsForgetAJobThatIsGone) {
  ExportSettingsRef settings = Settings(103, 0, 1000);
  { VL_ExportJobRecord job(settings); }
  EXPECT_FALSE(settings->contains("exportJob"));
  EXPECT_EQ(ZRN_JobRecord::jobOfSettings(*settings), nullptr);
}

TEST(VL_ExportJobRecord, RestoredUnfinishedJobsComeBackCancelled) {
  struct Case {
    int64_t savedStatus;
    bool savedCancelled;
    int64_t status;
    bool cancelled;
  } const cases[] = {{0, false, 3, true}, {1, false, 3, true}, {2, false, 2, false}, {3, true, 3, true}, {1, true, 3, true}};
  VL_ExportJobRecord::registerWithDocument();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.savedStatus);
    VL_ExportJobRecord original(Settings(101, 0, 1000));
    original.setStatus(c.savedStatus);
    original.setCancelled(c.savedCancelled);
    VLDocument doc;
    doc.loadJobsArray({original.dictionaryToSave()});
    ASSERT_EQ(doc.jobsArray().size(), 1);
    auto job = std::dynamic_pointer_cast<VL_ExportJobRecord>(doc.jobsArray().first());
    ASSERT_TRUE(job);
    EXPECT_EQ(job->status(), c.status);
    EXPECT_EQ(job->cancelled(), c.cancelled);
    EXPECT_EQ(doc.numberOfPendingJobs(), 0);
    EXPECT_EQ(doc.numberOfWaitingJobs(), 0);
  }
}

}  // namespace
