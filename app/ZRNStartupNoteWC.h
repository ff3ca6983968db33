#pragma once
// The note shown at launch (layout "ZRNStartupNoteWC"): a short text about the program with an agree
// box, "Continue" (-1000) and "Visit Website" (-1001, the caller then opens the web page).

#include "common/ZRNBaseDialogWindowController.h"

class QCheckBox;
class QTextBrowser;

class ZRNStartupNoteWC : public ZRNBaseDialogWindowController {
  Q_OBJECT
 public:
  explicit ZRNStartupNoteWC(QWidget* parent = nullptr);
  ~ZRNStartupNoteWC() override;

  QCheckBox* agreeCheck() const { return m_agreeCheck; }
  QTextBrowser* licenseText() const { return m_licenseText; }

 protected:
  void awakeFromNib() override;

 private:
  QCheckBox* m_agreeCheck = nullptr;
  QTextBrowser* m_licenseText = nullptr;
};

// Shows the note application-modal with no default button and answers its result: -1000 for
// "Continue", -1001 for "Visit Website" (or the note ended from outside).
int ZRNStartupNoteWC_RunModal();
