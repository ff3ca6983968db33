#include "capture/VLLiveWC.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNLogger.h"
#include "common/ZRNTimeFormatting.h"
#include "session/VLDocument.h"
#include "platform/gui/DialogRunner.h"
#include "platform/gui/FilePanels.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QStandardPaths>

namespace {

// The save panel hides packages that are still being recorded ("vlvidcapb_live").
class LivePackageFilter : public QSortFilterProxyModel {
 public:
  explicit LivePackageFilter(const VLLiveWC* owner, QObject* parent) : QSortFilterProxyModel(parent), m_owner(owner) {}

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    auto* fs = qobject_cast<QFileSystemModel*>(sourceModel());
    if (!fs) return true;
    const QString path = fs->filePath(fs->index(row, 0, parent));
    return m_owner->panel(qobject_cast<const QFileDialog*>(QObject::parent()), QUrl::fromLocalFile(path));
  }

 private:
  const VLLiveWC* m_owner;
};

}  // namespace

// ---- the name of the recording ------------------------------------------------------------------------

QString VLLiveWC_SaveFolder(const QUrl& savedFolder) {
  const QString folder = savedFolder.toLocalFile();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  // A saved folder that is gone or is a file must not leave the panel in the working directory.
  for (const auto location : {QStandardPaths::MoviesLocation, QStandardPaths::HomeLocation}) {
    const QString candidate = QStandardPaths::writableLocation(location);
    if (!candidate.isEmpty() && QFileInfo(candidate).isDir()) return candidate;
  }
  return QDir::homePath();
}

QString VLLiveWC::proposedSaveName(const QDateTime& now) {
  return Fmt("VLCapture_%@_%@", dateAsStringForDate(now), timeAsStringForDate(now, false));
}

bool VLLiveWC::panel(const QFileDialog*, const QUrl& url) const {
  return QFileInfo(url.toLocalFile()).suffix() != kVLPackageExtension + QStringLiteral("_live");
}

void VLLiveWC::getSaveName() {
  ZRNLogger_Log("getSaveName");
  // A session package is one item: naming a recording after an existing session asks to replace it.
  auto* panel = new PackageSavePanel(this);
  panel->setObjectName(QStringLiteral("VLSavePanel"));
  panel->setLabelText(QFileDialog::Accept, tr("Continue"));
  panel->setNameFilter(Fmt("%@ (*.%@)", tr("Velmora session"), kVLPackageExtension));
  panel->setDefaultSuffix(kVLPackageExtension);
  panel->setWindowTitle(QStringLiteral("File name for new recording"));
  panel->setProxyModel(new LivePackageFilter(this, panel));
  // A save folder inside a package (kept by an older version) starts beside that package instead.
  panel->setDirectory(VLLiveWC_SaveFolder(
      QUrl::fromLocalFile(FilePanels_FolderOutsidePackages(Prefs_Shared().saveTargetDirectory().toLocalFile()))));
  panel->selectFile(proposedSaveName(QDateTime::currentDateTime()));
  panel->setWindowModality(Qt::WindowModal);
  m_savePanel = panel;
  QPointer<VLLiveWC> guard(this);
  QPointer<QFileDialog> panelGuard(panel);
  connect(panel, &QFileDialog::finished, this, [guard, panelGuard](int result) {
    if (!guard || !panelGuard) return;
    const QStringList chosen = panelGuard->selectedFiles();
    const bool named = result == QDialog::Accepted && !chosen.isEmpty();
    if (named) {
      QString path = chosen.first();
      if (QFileInfo(path).suffix() != kVLPackageExtension)
        path += QStringLiteral(".") + kVLPackageExtension;
      guard->m_targetURL = QUrl::fromLocalFile(path);
      // Only a name the panel asked about may replace what stands there (the start checks it is this one).
      guard->m_confirmedReplacementPath = static_cast<PackageSavePanel*>(panelGuard.data())->confirmedReplacement();
      Prefs_Shared().setSaveTargetDirectory(
          QUrl::fromLocalFile(FilePanels_FolderOutsidePackages(QFileInfo(path).absolutePath())));
    }
    // The name starts nothing (the recording waits for its button). The panel may have ended from inside
    // its completion list, which would stay on screen until the panel goes: it is closed now, and a
    // cancel's closing of the window, which may ask first, comes once the key that ended it is handled.
    Gui_HandleDialogResult(panelGuard, guard, named ? std::function<void()>() : [guard] { guard->close(); });
    panelGuard->deleteLater();
  });
  panel->open();
}
