#pragma once
// The generic bookkeeping of a job: title, date, status and the cancellation flag. `cancelled` is the one
// field that several threads touch (the user cancels on the main thread, export monitors read it), so it
// is always read and written under the record's own lock.

#include "session/VLDocument.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <mutex>

// Values of `status`.
enum JobStatus : int64_t {
  kJobStatusWaiting = 0,
  kJobStatusExporting = 1,
  kJobStatusFinished = 2,
  kJobStatusCancelled = 3,
};

// Values of `activityType` and of the export settings' "activityType".
enum ExportActivityType : int64_t {
  kExportActivityNone = 0,
  kExportActivityManualClip = 101,
  kExportActivityAutomaticClip = 102,
  kExportActivitySessionMovie = 103,
};

class ZRN_BaseJobRecord : public QObject, public VLDocumentJob {
  Q_OBJECT

 public:
  ZRN_BaseJobRecord();

  QString title() const { return m_title; }
  void setTitle(const QString& title) { m_title = title; }
  QString comment() const { return m_comment; }
  void setComment(const QString& comment) { m_comment = comment; }
  QDateTime date() const { return m_date; }
  void setDate(const QDateTime& date) { m_date = date; }
  int64_t status() const override { return m_status; }
  void setStatus(int64_t status) { m_status = status; }
  bool cancelled() const override;
  void setCancelled(bool cancelled);
  int64_t activityType() const { return m_activityType; }
  virtual void setActivityType(int64_t type) { m_activityType = type; }
  // A null string is "no badge text" (and is not saved).
  virtual QString activityBadgeString() const { return m_activityBadgeString; }
  void setActivityBadgeString(const QString& text) { m_activityBadgeString = text; }
  bool isFinished() const override { return status() == kJobStatusFinished || cancelled(); }
  bool showSelected() const { return m_showSelected; }
  void setShowSelected(bool selected) { m_showSelected = selected; }
  bool displayExpanded() const { return m_displayExpanded; }
  void setDisplayExpanded(bool expanded) { m_displayExpanded = expanded; }

 private:
  QString m_title = QStringLiteral("");
  QString m_comment = QStringLiteral("");
  QDateTime m_date = QDateTime::currentDateTime();
  int64_t m_status = kJobStatusWaiting;
  mutable std::mutex m_lock;
  bool m_cancelled = false;
  int64_t m_activityType = kExportActivityNone;
  QString m_activityBadgeString;
  bool m_showSelected = false;
  bool m_displayExpanded = false;
};
