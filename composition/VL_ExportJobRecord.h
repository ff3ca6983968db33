#pragma once
// The export job of a session: its texts and badge by activity type, its overlay project and its export
// session.

#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRN_JobRecord.h"
#include "platform/media/asset/Composition.h"
#include "platform/media/export/ExportSession.h"

#include <QColor>

#include <memory>

class VL_ExportJobRecord : public ZRN_JobRecord {
  Q_OBJECT

 public:
  VL_ExportJobRecord();
  explicit VL_ExportJobRecord(ExportSettingsRef settings);
  explicit VL_ExportJobRecord(const QVariantMap& savedDictionary);
  ~VL_ExportJobRecord() override;

  // A job read back from a session's settings file. Nobody runs a job that was waiting or exporting when
  // its session was saved, so such a job comes back cancelled (status 3): it counts as finished, the
  // queue never starts it and nothing waits for it.
  static std::shared_ptr<VL_ExportJobRecord> restoredJob(const QVariantMap& savedDictionary);
  // Makes the session document load its saved jobs as export jobs (restoredJob).
  static void registerWithDocument();

  // Title given at creation for the export types, else an empty text.
  static QString activityTitle(int64_t type);

  QColor badgeColor() const;
  QString titleTipString() const { return targetPath(); }
  bool showBadge() const { return m_showBadge; }
  void setShowBadge(bool show) { m_showBadge = show; }
  std::shared_ptr<ZRNAVCaptureProject> badgeOverlayProject() const { return m_badgeOverlayProject; }
  void setBadgeOverlayProject(std::shared_ptr<ZRNAVCaptureProject> project) { m_badgeOverlayProject = std::move(project); }
  AssetExportSessionRef exportSession() const { return m_exportSession; }
  void setExportSession(AssetExportSessionRef session) { m_exportSession = std::move(session); }
  MutableCompositionRef exportComposition() const { return m_exportComposition; }
  void setExportComposition(MutableCompositionRef c) { m_exportComposition = std::move(c); }

  // Why the export ended without a file (empty while it has not failed). A failed job says so in its
  // description, in the export history and in the saved session.
  QString failureReason() const { return m_failureReason; }
  void setFailureReason(const QString& reason) { m_failureReason = reason; }
  bool exportFailed() const { return !m_failureReason.isEmpty(); }
  // The file the job was to write, kept when it ended without it (empty otherwise, and in sessions saved
  // before it was kept): a clip's numbered name is chosen only as its export ends, so the failure is the
  // last moment it can be known.
  QString intendedPath() const { return m_intendedPath; }
  void setIntendedPath(const QString& path) { m_intendedPath = path; }
  QVariantMap dictionaryToSave() const override;

  QString defaultClipTitle() const;
  QString descriptionString() const override;
  QString descriptionTipString() const override;
  QString activityBadgeString() const override;
  int64_t startMillisForClip() const;

 private:
  bool m_showBadge = false;
  std::shared_ptr<ZRNAVCaptureProject> m_badgeOverlayProject;
  AssetExportSessionRef m_exportSession;
  MutableCompositionRef m_exportComposition;
  QString m_failureReason;
  QString m_intendedPath;
};
