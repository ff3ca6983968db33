#include "composition/VL_ExportJobRecord.h"

#include "common/ZRNTimeFormatting.h"
#include "platform/foundation/Fmt.h"

#include <QFileInfo>

VL_ExportJobRecord::VL_ExportJobRecord() = default;

VL_ExportJobRecord::VL_ExportJobRecord(ExportSettingsRef settings) : ZRN_JobRecord(std::move(settings)) {
  const QString title = activityTitle(activityType());
  if (!title.isEmpty()) setTitle(title);
  m_badgeOverlayProject = std::make_shared<ZRNAVCaptureProject>();
}

namespace {
const QString kFailureReasonKey = QStringLiteral("failureReason");
const QString kIntendedPathKey = QStringLiteral("intendedPath");
}  // namespace

VL_ExportJobRecord::VL_ExportJobRecord(const QVariantMap& saved)
    : ZRN_JobRecord(saved),
      m_failureReason(saved.value(kFailureReasonKey).toString()),
      m_intendedPath(saved.value(kIntendedPathKey).toString()) {}

QVariantMap VL_ExportJobRecord::dictionaryToSave() const {
  QVariantMap dict = ZRN_JobRecord::dictionaryToSave();
  if (exportFailed()) dict.insert(kFailureReasonKey, m_failureReason);
  if (!m_intendedPath.isEmpty()) dict.insert(kIntendedPathKey, m_intendedPath);
  return dict;
}

VL_ExportJobRecord::~VL_ExportJobRecord() = default;

std::shared_ptr<VL_ExportJobRecord> VL_ExportJobRecord::restoredJob(const QVariantMap& saved) {
  auto job = std::make_shared<VL_ExportJobRecord>(saved);
  if (job->status() == kJobStatusWaiting || job->status() == kJobStatusExporting) {
    job->setCancelled(true);
    job->setStatus(kJobStatusCancelled);
  }
  return job;
}

void VL_ExportJobRecord::registerWithDocument() {
  VLDocument::setJobFactory([](const QVariantMap& saved) -> std::shared_ptr<VLDocumentJob> { return restoredJob(saved); });
}

QString VL_ExportJobRecord::activityTitle(int64_t type) {
  switch (type) {
    case kExportActivityManualClip: return QStringLiteral("Manual Clip");
    case kExportActivityAutomaticClip: return QStringLiteral("Automatic Clip");
    case kExportActivitySessionMovie: return QStringLiteral("Session Movie");
    default: return QStringLiteral("");
  }
}

QColor VL_ExportJobRecord::badgeColor() const {
  // White 0.85 in a gamma-2.2 grey space.
  const int level = qRound(255.0 * 0.85);
  return QColor(level, level, level, 255);
}

QString VL_ExportJobRecord::defaultClipTitle() const {
  if (!targetPath().isEmpty()) return QFileInfo(targetPath()).completeBaseName();
  return activityTitle(activityType());
}

QString VL_ExportJobRecord::descriptionString() const {
  if (exportFailed()) return Fmt("Failed: %@", m_failureReason);
  const ExportSettingsRef settings = exportSettings();
  const int64_t duration = settings ? settings->value(kExportSettingsDurationMillis).toLongLong() : 0;
  const int64_t start = settings ? settings->value(kExportSettingsStartTimeMillis).toLongLong() : 0;
  switch (activityType()) {
    case kExportActivityManualClip:
    case kExportActivityAutomaticClip:
      return Fmt("Duration %@ at %@", stringWithMillis(duration), stringWithMillis(start));
    case kExportActivitySessionMovie: return Fmt("Duration %@", stringWithMillis(duration));
    default: return QStringLiteral("...");
  }
}

QString VL_ExportJobRecord::descriptionTipString() const {
  const ExportSettingsRef settings = exportSettings();
  const int64_t duration = settings ? settings->value(kExportSettingsDurationMillis).toLongLong() : 0;
  const int64_t start = settings ? settings->value(kExportSettingsStartTimeMillis).toLongLong() : 0;
  switch (activityType()) {
    case kExportActivityManualClip:
      return Fmt("Clip with duration %@ at %@", stringWithMillis(duration), stringWithMillis(start));
    case kExportActivityAutomaticClip:
      return Fmt("Automatic clip with duration %@ at %@", stringWithMillis(duration), stringWithMillis(start));
    case kExportActivitySessionMovie: return Fmt("Movie file with duration %@", stringWithMillis(duration));
    default: return QStringLiteral("...");
  }
}

QString VL_ExportJobRecord::activityBadgeString() const {
  switch (activityType()) {
    case kExportActivityManualClip:
    case kExportActivityAutomaticClip: return QStringLiteral("CLIP");
    case kExportActivitySessionMovie: return QStringLiteral("MOV");
    default: return QStringLiteral("");
  }
}

int64_t VL_ExportJobRecord::startMillisForClip() const {
  const ExportSettingsRef settings = exportSettings();
  return settings ? settings->value(kExportSettingsStartTimeMillis).toLongLong() : 0;
}
