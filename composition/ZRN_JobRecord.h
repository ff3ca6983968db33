#pragma once
// A job with its export settings, target, progress steps, delegate and saved form.
//
// The export-settings dictionary is shared: the job holds the very dictionary it was given, and the
// dictionary refers back to the job under "exportJob" (a plain pointer that owns nothing and is never
// saved).

#include "composition/ZRN_BaseJobRecord.h"

#include <QImage>
#include <QPointer>
#include <QVariantMap>

#include <memory>

class ZRN_JobRecord;

// The keys of a job's export settings.
inline const QString kExportSettingsActivityType = QStringLiteral("activityType");
inline const QString kExportSettingsStartTimeMillis = QStringLiteral("startTimeMillis");
inline const QString kExportSettingsDurationMillis = QStringLiteral("durationMillis");
inline const QString kExportSettingsTargetPath = QStringLiteral("targetPath");
inline const QString kExportSettingsExportJob = QStringLiteral("exportJob");
inline const QString kExportSettingsUserCancelled = QStringLiteral("userCancelled");

using ExportSettingsRef = std::shared_ptr<QVariantMap>;

// The object that runs jobs (the playback window). Both operations are optional.
class ZRNJobDelegate {
 public:
  virtual ~ZRNJobDelegate() = default;
  virtual bool respondsToDoTheJob() const { return false; }
  virtual void doTheJob(ZRN_JobRecord*) {}
  virtual bool respondsToJobAbort() const { return false; }
  virtual void jobAbort(ZRN_JobRecord*) {}
};

class ZRN_JobRecord : public ZRN_BaseJobRecord {
  Q_OBJECT

 public:
  ZRN_JobRecord();
  // A new job for these settings: takes the dictionary itself and enters itself under "exportJob".
  explicit ZRN_JobRecord(ExportSettingsRef settings);
  // A job restored from its saved dictionary: no delegate, and settings without "exportJob".
  explicit ZRN_JobRecord(const QVariantMap& savedDictionary);
  ~ZRN_JobRecord() override;

  // The job of a settings dictionary's "exportJob" entry, or null.
  static ZRN_JobRecord* jobOfSettings(const QVariantMap& settings);

  QVariantMap dictionaryToSave() const override;

  // Drawn on first use for the types that have one; null for the others.
  QImage badgeImage();
  void setBadgeImage(const QImage& image) { m_badgeImage = image; }
  QString targetPath() const { return m_targetPath; }
  void setTargetPath(const QString& path);
  bool targetIsFolder() const { return m_targetIsFolder; }
  void setTargetIsFolder(bool folder) { m_targetIsFolder = folder; }
  ExportSettingsRef exportSettings() const { return m_exportSettings; }
  void setExportSettings(ExportSettingsRef settings) { m_exportSettings = std::move(settings); }
  int64_t currentStep() const { return m_currentStep; }
  void setCurrentStep(int64_t step) { m_currentStep = step; }
  int64_t totalSteps() const { return m_totalSteps; }
  void setTotalSteps(int64_t steps) { m_totalSteps = steps; }
  QString progressString() const;
  // The stored description (null when none); subclasses may show a computed one.
  virtual QString descriptionString() const { return m_descriptionString; }
  QString storedDescriptionString() const { return m_descriptionString; }
  void setDescriptionString(const QString& text) { m_descriptionString = text; }
  virtual QString descriptionTipString() const { return m_targetPath; }
  QString titleFormatStr() const;
  QString infoString() const;
  void setActivityType(int64_t type) override;

  // Weak: null once the delegate (a QObject) is gone.
  ZRNJobDelegate* delegate() const;
  void setDelegate(ZRNJobDelegate* delegate);

 signals:
  void descriptionTipStringChanged();
  void titleTipStringChanged();

 protected:
  // The named badge image of an activity type, or an empty name.
  virtual QString badgeImageName() const;

 private:
  QImage m_badgeImage;
  QString m_targetPath;
  bool m_targetIsFolder = false;
  ExportSettingsRef m_exportSettings;
  int64_t m_currentStep = 0;
  int64_t m_totalSteps = 100;
  QString m_descriptionString;
  ZRNJobDelegate* m_delegate = nullptr;
  QPointer<QObject> m_delegateObject;
};

// The badge images of the export types, drawn in code ("image512", "movie512", "anon512").
QImage ZRN_BadgeImageNamed(const QString& name);
