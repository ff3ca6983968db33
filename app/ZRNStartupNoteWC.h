#pragma once
// The note shown at launch (layout "ZRNStartupNoteWC"): a short text about the program with an agree
// box, "Continue" (-1000) and "Visit Website" (-1001, the caller then opens the web page).

#include "app/ZRNBaseDialogWindowController.h"

#include <QDateTime>
#include <QVariant>

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

// The user-defaults key of the date the note was last shown, and how long it stays away after that.
inline constexpr const char* kStartupNoteDateKey = "HVNoteDate";
inline constexpr qint64 kStartupNoteIntervalSeconds = 432000;  // 5 days

// Whether the note is due: never shown (or no date stored), or shown at least five days before now.
bool StartupNote_IsDue(const QVariant& lastShown, const QDateTime& now);

// Shows the note application-modal with no default button and answers its result.
int StartupNote_Run();
