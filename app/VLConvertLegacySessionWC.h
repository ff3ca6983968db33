#pragma once
// Converting an old session folder ("<name>.vlvidcap": property-list settings beside a "segments" folder of
// movie files) into a session package "<name>.vlvidcapb" beside it.
//
// The progress window (layout "ZRNProgressWC") runs application-modal through two steps: reading the old
// settings and segments into a temporary package (progress 0-100), then joining the segments into the
// package's one movie by a pass-through export (100-200). Still under the window (its bar now without a
// measure, its Abort still working) the joined movie is read back, the package is copied into place and
// the old folder removed; the window goes when the session's window shows, or with the alert that ends a
// failed conversion. The old folder is removed only once the joined movie holds every picture read from
// each segment (those of a segment cut short inside a fragment too) and the new package stands complete
// under its name with a movie that opens; every other ending leaves it as it was.

#include "common/ZRNBaseClasses.h"
#include "platform/media/asset/Asset.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class DispatchQueue;
class VL_ExportJobRecord;
class VLDocument;

// Converts the legacy folder; true when the new package is in place and the folder is gone. A failure
// shows alert 20028 and leaves the folder untouched; an abort ends quietly. Once the package stands,
// `openConverted` (when given) opens it and answers the window that will show it: the progress window
// stays until that window shows, or goes away without showing.
bool Legacy_ConvertSession(const QUrl& folderURL, const std::function<QWidget*()>& openConverted = {});

// What the progress window shares with the work it hands to the importer queue: the user's abort, and
// the moment the new package takes its name, from which on an abort comes too late (the old folder goes
// next). Any thread.
class LegacyConversionControl {
 public:
  // Asks the work to stop; false when the package has its name already.
  bool abort();
  bool aborted() const { return m_aborted.load(); }
  // What the long reads and copies look at between their packets and blocks of bytes.
  const std::atomic<bool>* abortFlag() const { return &m_aborted; }
  // Just before the package takes its name: false when the work was aborted; no abort is taken afterwards.
  // On success `committed` (when set) is told, on the thread that commits.
  bool commit();
  void setCommitted(std::function<void()> committed) { m_committedHandler = std::move(committed); }
  void setInPlace() { m_inPlace.store(true); }
  bool inPlace() const { return m_inPlace.load(); }
  // What stayed in the old folder once the package stood (paths below the folder): items the conversion
  // did not read, which the folder keeps.
  void setKeptInOldFolder(const QStringList& kept);
  QStringList keptInOldFolder() const;

 private:
  mutable std::mutex m_mutex;
  QStringList m_keptInOldFolder;
  std::atomic<bool> m_aborted{false};
  bool m_committed = false;
  std::function<void()> m_committedHandler;
  std::atomic<bool> m_inPlace{false};
};

// A file of the old folder that the conversion read (a settings file or a segment), as it stood when it
// was listed: it goes with the old folder only while it is still that file, unchanged.
struct LegacyReadFile {
  QString path;
  quint64 device = 0;
  quint64 inode = 0;
  qint64 size = -1;
  qint64 modifiedNs = -1;
};
// The file at the path as it stands now (size -1 when there is none; a link is not followed).
LegacyReadFile Legacy_NoteReadFile(const QString& path);

// The temporary package of a conversion is named by this prefix and the run's tag (Process_RunTag), so
// that what a killed run left can be told from the work of a run still going.
inline const QString kLegacy_TemporaryPackagePrefix = QStringLiteral("VLImportedSession-");

// Removes what conversions of runs that no longer go on left behind: their temporary packages in the
// temporary folder. Work of a run still going (this one, or another copy of Velmora) stays. Any thread.
void Legacy_RemoveLeftovers();

// Copies a finished package folder to `target` so that the target appears whole or not at all: the copy is
// written to disk under a hidden name beside it, its movie must open, and only then is it renamed (never
// over an existing item). On failure, or when `control` is aborted before the rename, nothing of the copy
// remains and *error says why.
bool Legacy_CopyPackageIntoPlace(const QString& package, const QString& target, QString* error,
                                 LegacyConversionControl* control = nullptr);

// On the importer queue, once the joined movie is checked: copies the package into place beside the old
// folder, then removes from the old folder the files that were read (`readFiles`) and the package. The
// old folder goes with them when nothing else is left in it; otherwise it stays with what the conversion
// did not read, which `control` then lists (keptInOldFolder). False with *error when the package could
// not be put in place (or the work was aborted); the old folder then stays as it was.
bool Legacy_PutPackageInPlace(const QString& package, const QString& legacyFolder,
                              const QList<LegacyReadFile>& readFiles, LegacyConversionControl& control,
                              QString* error);

// The modal run's answers: the export completed, the user aborted (or there was nothing to join), or the
// conversion failed (failureReason() says why).
inline constexpr int kLegacyConversionDone = kDialogResultFirst;
inline constexpr int kLegacyConversionAborted = kDialogResultCancel;
inline constexpr int kLegacyConversionFailed = -1003;

// What the joined movie must hold of one segment: every picture read from the segment's whole file.
struct LegacySegmentCheck {
  QString name;      // the segment's file name
  QString readFrom;  // the file joined: the segment, or its whole copy when it was cut short
  int64_t pictures = 0;
};

// Copies of segments cut short live in this folder of the temporary package until the joined movie
// is checked; it never reaches the session package.
inline const QString kLegacy_RepairFolderName = QStringLiteral(".cut-segments");

class VLConvertLegacySessionWC : public ZRN_CommonInitWC<QDialog> {
  Q_OBJECT
 public:
  explicit VLConvertLegacySessionWC(QWidget* parent = nullptr);
  // Waits for the importer queue and stops an export still running, so no work outlives the window.
  ~VLConvertLegacySessionWC() override;

  QLabel* labelTxt() const { return m_labelTxt; }
  QPushButton* cancelBtn() const { return m_cancelBtn; }
  QProgressBar* progressBar() const { return m_progressBar; }

  // The work was aborted: by the user, an export cancelled from outside, or the window's end.
  bool userCanceled() const { return m_control->aborted(); }
  std::shared_ptr<VLDocument> vlDocument() const;
  QUrl fileURL() const;
  QList<QUrl> segmentURLsArray() const;
  QList<AssetRef> segmentAssetsArray() const;
  std::shared_ptr<VL_ExportJobRecord> exportJob() const;
  std::shared_ptr<DispatchQueue> legacyImportQueue() const { return m_legacyImportQueue; }
  // Why the run ended as failed (empty otherwise).
  QString failureReason() const { return m_failureReason; }
  // The new package stands under its name (the old folder is gone or going).
  bool conversionInPlace() const { return m_control->inPlace(); }
  // What the old folder kept of its own once the package stood (see LegacyConversionControl).
  QStringList keptInOldFolder() const { return m_control->keptInOldFolder(); }
  // Opens the converted package and answers the window that will show it (see Legacy_ConvertSession).
  void setOpenConverted(std::function<QWidget*()> open) { m_openConverted = std::move(open); }

  void windowDidLoad();
  // Abort: from the button, Escape, the close box, or the importer queue when there is nothing to join.
  // Any thread.
  void cancelProcess();
  void setUpFor(const QUrl& folderURL);
  void loadLegacyRecording(const QUrl& folderURL);
  // Main thread, or the importer queue for the first asset.
  void loadAssetWithIndex(qsizetype index);
  // Main thread.
  void mergeAssets(const QList<AssetRef>& assets);
  void monitorExportProgressFor(const std::shared_ptr<VL_ExportJobRecord>& job);

  // Main thread, once the modal run is over: lets the importer queue finish what it started and waits
  // for the export to end, cancelling it unless it completed. Afterwards nothing writes into the
  // temporary package any more.
  void U_StopWork();

  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void U_ReadLegacyFolder(const QUrl& folderURL);
  void U_StartExport(const std::shared_ptr<VL_ExportJobRecord>& job);
  void U_ProgressCheck(const std::shared_ptr<VL_ExportJobRecord>& job);
  void U_ExportEnded(const std::shared_ptr<VL_ExportJobRecord>& job);
  // The package stands under its name: the session opens while this window stays.
  void U_ConversionInPlace();
  void U_EndRun(int result, const QString& reason = QString());
  // From the importer queue: ends the run as failed on the main queue.
  void U_FailFromQueue(const QString& reason);
  void U_SetProgress(int value);

  QPointer<QLabel> m_labelTxt;
  QPointer<QPushButton> m_cancelBtn;
  QPointer<QProgressBar> m_progressBar;

  std::shared_ptr<LegacyConversionControl> m_control = std::make_shared<LegacyConversionControl>();
  std::function<QWidget*()> m_openConverted;
  QPointer<QWidget> m_sessionWindow;
  // The run has ended (main thread): late answers of the queue, the assets and the export do nothing.
  bool m_runEnded = false;
  QString m_failureReason;

  // What the importer queue and the main thread share.
  mutable std::mutex m_mutex;
  std::shared_ptr<VLDocument> m_vlDocument;
  QUrl m_fileURL;
  QList<QUrl> m_segmentURLsArray;
  QList<AssetRef> m_segmentAssetsArray;
  std::shared_ptr<VL_ExportJobRecord> m_exportJob;
  QList<LegacySegmentCheck> m_segmentChecks;
  QList<LegacyReadFile> m_readFiles;
  QList<double> m_segmentStarts;  // in the joined movie, set when the segments are joined

  std::shared_ptr<DispatchQueue> m_legacyImportQueue;
};
