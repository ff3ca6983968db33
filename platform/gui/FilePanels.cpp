#include "platform/gui/FilePanels.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSet>

namespace {

const char* const kWatchedProperty = "org.velmora.packagesWatched";

QSet<QString>& U_PackageExtensions() {
  static QSet<QString> extensions;
  return extensions;
}

// The outermost package among the path's folders, or an empty string.
QString U_OutermostPackage(const QString& path) {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  const QStringList parts = clean.split(QLatin1Char('/'));
  QString prefix;
  for (const QString& part : parts) {
    prefix = prefix.isEmpty() && part.isEmpty() ? QStringLiteral("/") : QDir(prefix).filePath(part);
    if (!part.isEmpty() && FilePanels_IsPackage(prefix)) return prefix;
  }
  return QString();
}

// Chooses the package as if the user had selected it and pressed the panel's button: the panel's own
// accept decides what follows.
void U_ChoosePackage(QFileDialog* panel, QAbstractItemView* view, const QModelIndex& index) {
  view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  // accept is the dialog's slot: the panel's override runs.
  QMetaObject::invokeMethod(panel, "accept");
}

class PackagePanelWatcher : public QObject {
 public:
  static PackagePanelWatcher* shared() {
    static QPointer<PackagePanelWatcher> watcher;
    if (!watcher && qApp) {
      watcher = new PackagePanelWatcher(qApp);
      qApp->installEventFilter(watcher);
    }
    return watcher;
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* panel = qobject_cast<QFileDialog*>(object)) watch(panel);
      return false;
    }
    const bool doubleClick = event->type() == QEvent::MouseButtonDblClick;
    const bool returnKey = event->type() == QEvent::KeyPress &&
                           (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter);
    if (!doubleClick && !returnKey) return false;
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || !widget->property(kWatchedProperty).toBool()) return false;
    auto* view = qobject_cast<QAbstractItemView*>(widget);
    if (!view) view = qobject_cast<QAbstractItemView*>(widget->parentWidget());
    auto* panel = view ? qobject_cast<QFileDialog*>(view->window()) : nullptr;
    if (!panel) return false;
    const QModelIndex index = doubleClick ? view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint())
                                          : view->currentIndex();
    const QString path = index.data(QFileSystemModel::FilePathRole).toString();
    if (path.isEmpty() || !FilePanels_IsPackage(path)) return false;
    U_ChoosePackage(panel, view, index);
    return true;
  }

 private:
  using QObject::QObject;

  void watch(QFileDialog* panel) {
    if (panel->property(kWatchedProperty).toBool()) return;
    panel->setProperty(kWatchedProperty, true);
    for (QAbstractItemView* view : panel->findChildren<QAbstractItemView*>()) {
      // The sidebar lists places, not the folder's items.
      if (view->objectName() != QLatin1String("listView") && view->objectName() != QLatin1String("treeView")) continue;
      view->setProperty(kWatchedProperty, true);
      view->viewport()->setProperty(kWatchedProperty, true);
    }
    QPointer<QFileDialog> guard(panel);
    connect(panel, &QFileDialog::directoryEntered, panel, [guard](const QString& folder) {
      const QString package = U_OutermostPackage(folder);
      if (package.isEmpty()) return;
      // Led inside a package: back out to the folder that holds it, the package chosen in the list.
      QMetaObject::invokeMethod(guard, [guard, package] {
        if (!guard) return;
        guard->setDirectory(QFileInfo(package).absolutePath());
        guard->selectFile(QFileInfo(package).fileName());
      }, Qt::QueuedConnection);
    });
  }
};

}  // namespace

void FilePanels_RegisterPackageExtension(const QString& extension) {
  if (extension.isEmpty()) return;
  U_PackageExtensions().insert(extension.toLower());
  PackagePanelWatcher::shared();
}

bool FilePanels_IsPackage(const QString& path) {
  const QFileInfo info(path);
  return info.isDir() && U_PackageExtensions().contains(info.suffix().toLower());
}

QString FilePanels_FolderOutsidePackages(const QString& folder) {
  const QString package = U_OutermostPackage(folder);
  return package.isEmpty() ? folder : QFileInfo(package).absolutePath();
}

PackageSavePanel::PackageSavePanel(QWidget* parent) : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  // Nothing is chosen yet: the button shows the panel's own label.
  m_acceptLabel = labelText(QFileDialog::Accept);
  // QFileDialog turns its button into "Open" whenever the chosen name is a folder, after each edit of the
  // name and each change of the current item or the selection. These connections come after its own.
  if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
    connect(name, &QLineEdit::textChanged, this, &PackageSavePanel::U_KeepAcceptLabel);
  connect(this, &QFileDialog::currentChanged, this, &PackageSavePanel::U_KeepAcceptLabel);
}

void PackageSavePanel::setLabelText(DialogLabel label, const QString& text) {
  if (label == QFileDialog::Accept) m_acceptLabel = text;
  QFileDialog::setLabelText(label, text);
}

void PackageSavePanel::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  // The list's selection model is replaced with its model (a proxy set after construction).
  if (auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView")); list && list->selectionModel())
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &PackageSavePanel::U_KeepAcceptLabel,
            Qt::UniqueConnection);
  U_KeepAcceptLabel();
}

void PackageSavePanel::U_KeepAcceptLabel() {
  // The button does not open a package: it chooses it, and asks before replacing it.
  if (FilePanels_IsPackage(selectedFiles().value(0))) QFileDialog::setLabelText(QFileDialog::Accept, m_acceptLabel);
}

void PackageSavePanel::accept() {
  const QString path = selectedFiles().value(0);
  m_confirmedReplacement.clear();
  if (!FilePanels_IsPackage(path)) {
    QFileDialog::accept();
    return;
  }
  const QFileInfo info(path);
  QMessageBox question(QMessageBox::Warning, windowTitle(),
                       tr("\u201C%1\u201D already exists. Do you want to replace it?").arg(info.fileName()),
                       QMessageBox::NoButton, this);
  question.setObjectName(QStringLiteral("replaceQuestion"));
  question.setInformativeText(tr("A session with the same name already exists in \u201C%1\u201D. Replacing it will "
                                 "remove its current contents.")
                                  .arg(info.dir().dirName()));
  QPushButton* replace = question.addButton(replaceButtonText(), QMessageBox::DestructiveRole);
  replace->setObjectName(QStringLiteral("replaceBtn"));
  QPushButton* cancel = question.addButton(QMessageBox::Cancel);
  cancel->setObjectName(QStringLiteral("cancelBtn"));
  question.setDefaultButton(cancel);
  question.exec();
  // The package stays a chosen name: the panel neither enters it nor stores it as a folder.
  if (question.clickedButton() != replace) return;
  m_confirmedReplacement = QDir::cleanPath(info.absoluteFilePath());
  QDialog::accept();
}
