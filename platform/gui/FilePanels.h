#pragma once
// Packages in the file panels. A package is a folder that the user handles as one document (a session
// package). Once the application has registered the extensions of its package types, every non-native
// file panel (QFileDialog) of the process shows such a folder as one item: a double-click on it, or
// Return on it, chooses it instead of opening it, and a panel that is led inside one (a typed path, the
// history) goes back to the folder that holds it, with the package chosen.

#include <QFileDialog>
#include <QString>

// Main thread, once the application object exists.
void FilePanels_RegisterPackageExtension(const QString& extension);
// A folder whose extension is a registered package type.
bool FilePanels_IsPackage(const QString& path);
// The folder itself, or, when it lies inside a package, the folder that holds the outermost package.
QString FilePanels_FolderOutsidePackages(const QString& folder);

// A save panel whose result may be a package: a name that is an existing package is a file that
// exists, so the panel asks before replacing it (the caller removes the old one) instead of entering it,
// and its Accept button keeps its text for it (a plain folder, which the button enters, turns it "Open").
class PackageSavePanel : public QFileDialog {
  Q_OBJECT
 public:
  explicit PackageSavePanel(QWidget* parent = nullptr);

  void accept() override;

  // As QFileDialog's; the Accept label given here is the one a chosen package shows.
  void setLabelText(DialogLabel label, const QString& text);

  // The package the user agreed to replace by answering the question, when the accepted name is one;
  // empty otherwise. Only this answer allows the caller to remove an existing package.
  QString confirmedReplacement() const { return m_confirmedReplacement; }

  // The question's buttons, for whoever answers it.
  static QString replaceButtonText() { return tr("Replace"); }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void U_KeepAcceptLabel();

  QString m_confirmedReplacement;
  QString m_acceptLabel;
};
