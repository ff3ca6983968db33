#pragma once
// The export module of the preferences window: how many seconds before the current moment an automatic
// clip starts, how long it lasts after it, and the video bit rate of recordings. Each value is checked
// when its field's editing ends, corrected, shown corrected and stored.

#include "prefs/ZRNPrefsController.h"

class QLineEdit;

class VLExportPrefsTabVC : public ZRNBasePrefsTabVC {
  Q_OBJECT
 public:
  explicit VLExportPrefsTabVC(QWidget* parent = nullptr);

  QString title() const override;
  QString windowTitle() const override;
  QString identifier() const override { return QString::fromLatin1(kExportPrefsPaneID); }
  QIcon image() const override;
  // Shows the stored values; the bit rate is fixed while a recording runs.
  void willBeDisplayed() override;

  QLineEdit* secsBefore() const { return m_secsBefore; }
  QLineEdit* secsDuration() const { return m_secsDuration; }
  QLineEdit* kbpsField() const { return m_kbpsField; }

  // Editing of a field begins and ends (the text-field delegate's notifications).
  void controlTextDidBeginEditing(QLineEdit* field);
  void controlTextDidEndEditing(QLineEdit* field);

 private:
  // A field named by the caption beside it, and described by what it holds.
  QLineEdit* makeField(const char* name, const QString& description);

  QLineEdit* m_secsBefore = nullptr;
  QLineEdit* m_secsDuration = nullptr;
  QLineEdit* m_kbpsField = nullptr;
  QLineEdit* m_editing = nullptr;
  qint64 m_fOldFieldValue = 0;
};

// A typed number as the system reads one: leading blanks, an optional sign, then digits up to the
// first other character; no digits read as 0. Out-of-range values stop at the 64-bit limits.
qint64 Prefs_IntegerValue(const QString& text);
