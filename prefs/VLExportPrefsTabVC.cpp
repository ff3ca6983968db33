#include "prefs/VLExportPrefsTabVC.h"

#include "common/ZRNAppPrefs.h"
#include "capture/VLLiveWC.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {
QString Tr(const char* text) { return QCoreApplication::translate("Localizable", text); }

// Upper limits: a typed number of any length must not overflow the milliseconds of a moment or the
// bits per second of the encoder.
constexpr qint64 kMaxMomentSeconds = std::numeric_limits<int32_t>::max();
constexpr qint64 kMaxKBPS = std::numeric_limits<int32_t>::max() / 1024;
}  // namespace

qint64 Prefs_IntegerValue(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text.at(i).isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) negative = text.at(i++) == QLatin1Char('-');
  qint64 value = 0;
  for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
    const int digit = text.at(i).unicode() - '0';
    if (value > (std::numeric_limits<qint64>::max() - digit) / 10) return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

VLExportPrefsTabVC::VLExportPrefsTabVC(QWidget* parent) : ZRNBasePrefsTabVC(parent) {
  setObjectName(QStringLiteral("Prefs_ExportPrefs"));
  auto* form = new QFormLayout(this);
  form->setContentsMargins(20, 20, 20, 20);
  m_secsBefore = makeField("secsBefore", Tr("Seconds before the moment"));
  m_secsDuration = makeField("secsDuration", Tr("Seconds after the moment"));
  m_kbpsField = makeField("kbpsField", Tr("Recording bit rate in kbit/s"));
  // Each caption is its field's buddy: a screen reader names the field by it (AT-SPI's labelled-by).
  form->addRow(Tr("Moment clips start this many seconds before:"), m_secsBefore);
  form->addRow(Tr("and last this many seconds after:"), m_secsDuration);
  form->addRow(Tr("Recording bit rate (kbit/s):"), m_kbpsField);
  setMinimumSize(440, 140);
  awakeFromNib();
}

QLineEdit* VLExportPrefsTabVC::makeField(const char* name, const QString& description) {
  auto* field = new QLineEdit(this);
  field->setObjectName(QString::fromLatin1(name));
  // The second caption ("and last ...") reads as the end of the first: the description says it alone.
  field->setAccessibleDescription(description);
  field->setMaximumWidth(120);
  connect(field, &QLineEdit::textEdited, this, [this, field] {
    if (m_editing != field) controlTextDidBeginEditing(field);
  });
  connect(field, &QLineEdit::editingFinished, this, [this, field] { controlTextDidEndEditing(field); });
  return field;
}

QString VLExportPrefsTabVC::title() const { return Tr("Export"); }
QString VLExportPrefsTabVC::windowTitle() const { return Tr("Export Settings"); }
QIcon VLExportPrefsTabVC::image() const { return QIcon(QStringLiteral(":/images/Prefs_general.png")); }

void VLExportPrefsTabVC::willBeDisplayed() {
  m_kbpsField->setEnabled(!VLLiveWC_RecordingUnderWay());
  // A field being edited keeps what the user typed.
  if (m_editing != m_secsBefore) m_secsBefore->setText(QString::number(Prefs_Shared().momentSecsBefore()));
  if (m_editing != m_secsDuration) m_secsDuration->setText(QString::number(Prefs_Shared().momentSecsAfter()));
  if (m_editing != m_kbpsField) m_kbpsField->setText(QString::number(Prefs_Shared().segmentKBPS()));
}

void VLExportPrefsTabVC::controlTextDidBeginEditing(QLineEdit* field) {
  m_editing = field;
  if (field == m_secsBefore)
    m_fOldFieldValue = Prefs_Shared().momentSecsBefore();
  else if (field == m_secsDuration)
    m_fOldFieldValue = Prefs_Shared().momentSecsAfter();
  else if (field == m_kbpsField)
    m_fOldFieldValue = Prefs_Shared().segmentKBPS();
}

void VLExportPrefsTabVC::controlTextDidEndEditing(QLineEdit* field) {
  if (m_editing == field) m_editing = nullptr;
  qint64 value = Prefs_IntegerValue(field->text());
  if (field == m_secsBefore) {
    if (value < 0) value = 0;
    value = std::min(value, kMaxMomentSeconds);
    Prefs_Shared().setMomentSecsBefore(value);
  } else if (field == m_secsDuration) {
    if (value < 0) value = m_fOldFieldValue;
    const qint64 before = Prefs_Shared().momentSecsBefore();
    if (value < before) value = before;
    if (value < 2) value = 1;
    value = std::min(value, kMaxMomentSeconds);
    Prefs_Shared().setMomentSecsAfter(value);
  } else if (field == m_kbpsField) {
    if (value < 257) value = 256;
    value = std::min(value, kMaxKBPS);
    Prefs_Shared().setSegmentKBPS(value);
  } else {
    return;
  }
  field->setText(QString::number(value));
}
