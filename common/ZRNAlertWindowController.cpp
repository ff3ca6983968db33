#include "common/ZRNAlertWindowController.h"

#include "common/ZRNAlerts.h"
#include "ui_ZRNAlertDialog.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QTextOption>

#include <algorithm>

namespace {
// The width an alert takes when its text wants more: about 80 characters of its explanation.
constexpr int kReadingWidth = 600;
// What the window keeps free of the screen's edges when it must be as wide or as tall as it allows.
constexpr int kScreenMargin = 40;
}  // namespace

void ZRNAlertTextField::U_WrapInsideWords() const {
  // QLabel wraps at word boundaries only: each time it lays its text out anew (for a new text, font,
  // margin or size) it gives that wrapping to the document that holds the text. Asking it for a height
  // makes it do so now; after that the document also breaks a word that is wider than the line.
  if (!m_wrapStale && m_wrappedText == text()) return;
  QLabel::heightForWidth(std::max(width(), 1));
  if (auto* document = findChild<QTextDocument*>()) {
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document->setDefaultTextOption(option);
  }
  m_wrappedText = text();
  m_wrapStale = false;
}

QSize ZRNAlertTextField::sizeHint() const {
  U_WrapInsideWords();
  return QLabel::sizeHint();
}

QSize ZRNAlertTextField::minimumSizeHint() const {
  U_WrapInsideWords();
  return QLabel::minimumSizeHint();
}

int ZRNAlertTextField::heightForWidth(int width) const {
  U_WrapInsideWords();
  return QLabel::heightForWidth(width);
}

void ZRNAlertTextField::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  m_wrapStale = true;
}

void ZRNAlertTextField::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  m_wrapStale = true;
}

void ZRNAlertTextField::paintEvent(QPaintEvent* event) {
  U_WrapInsideWords();
  QLabel::paintEvent(event);
}

ZRNAlertWindowController::ZRNAlertWindowController(const QVariantMap& errorDict, QWidget* parent)
    : ZRNBaseDialogWindowController(parent), m_errorDict(errorDict) {
  Ui::ZRNAlertDialog layout;
  layout.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  awakeFromNib();
}

ZRNAlertWindowController::~ZRNAlertWindowController() = default;

void ZRNAlertWindowController::awakeFromNib() {
  ZRNBaseDialogWindowController::awakeFromNib();
  m_alertIcon = findChild<QLabel*>(QStringLiteral("alertIcon"));
  m_dontShowAgainCheck = findChild<QCheckBox*>(QStringLiteral("dontShowAgainCheck"));
  // The warning sign, unless the entry only tells how something went well.
  if (m_alertIcon) {
    const bool informational =
        m_errorDict.value(QString::fromLatin1(kAlertKeyAlertType)).toUInt() == kAlertTypeInformational;
    m_alertIcon->setPixmap(
        style()->standardIcon(informational ? QStyle::SP_MessageBoxInformation : QStyle::SP_MessageBoxWarning).pixmap(64, 64));
    m_alertIcon->setAccessibleName(informational ? QStringLiteral("Information") : QStringLiteral("Warning"));
  }
  // The text (often with a path in it) can be selected and copied with the mouse and with the keyboard:
  // Tab reaches it, the arrow keys with Shift select, Ctrl+C copies.
  for (QLabel* field : {mainTextfield(), explainTextfield()}) {
    if (!field) continue;
    field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    field->setFocusPolicy(Qt::StrongFocus);
  }
  // Alerts carry no window title; a listener still hears whose question it is.
  setAccessibleName(QStringLiteral("Velmora"));
  if (m_dontShowAgainCheck) m_dontShowAgainCheck->hide();
}

namespace {
// Titles are shown as written: "&" is a character ("Save & Quit"), not the mark of a shortcut letter.
QString literalTitle(const QString& title) { return QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")); }
}  // namespace

void ZRNAlertWindowController::setupWithOKText(const QString& okText, const QString& cancelText,
                                               const QString& otherText) {
  const bool cancelIsDefault =
      !cancelText.isEmpty() && m_errorDict.value(QString::fromLatin1(kAlertKeyCancelIsDefault)).toBool();
  if (QPushButton* ok = okBtn()) {
    ok->setText(literalTitle(okText));
    ok->setEnabled(true);
    ok->setDefault(!cancelIsDefault);
  }
  if (QPushButton* cancel = cancelBtn(); cancel && !cancelText.isEmpty()) {
    cancel->setText(literalTitle(cancelText));
    cancel->setDefault(cancelIsDefault);
    cancel->show();
  }
  if (QPushButton* other = otherBtn(); other && !otherText.isEmpty()) {
    other->setText(literalTitle(otherText));
    other->show();
  }
}

void ZRNAlertWindowController::setupWithMainText(const QString& mainText, const QString& explainText) {
  if (QLabel* field = mainTextfield()) {
    field->setTextFormat(Qt::PlainText);
    field->setText(mainText);
  }
  if (QLabel* field = explainTextfield(); field && !explainText.isEmpty()) {
    field->setTextFormat(Qt::PlainText);
    field->setText(explainText);
    field->show();
  }
}

void ZRNAlertWindowController::setupWithText(const QString& html) {
  if (QLabel* field = mainTextfield()) {
    field->setTextFormat(Qt::RichText);
    field->setText(html);
  }
}

void ZRNAlertWindowController::otherAction() {
  if (isSheet()) {
    done(kDialogResultOther);
  } else {
    done(m_errorDict.value(QString::fromLatin1(kAlertKeyOtherResult)).toInt());
  }
}

int ZRNAlertWindowController::dismissResult() const {
  if (!hasCancelButton()) return kDialogResultFirst;
  if (m_errorDict.value(QString::fromLatin1(kAlertKeyCancelRemoves)).toBool()) return kAlertResultNoAnswer;
  return kDialogResultCancel;
}

// Escape and the window's closing (QDialog sends both here).
void ZRNAlertWindowController::reject() { done(dismissResult()); }

QPushButton* ZRNAlertWindowController::U_DefaultButton() const {
  QPushButton* cancel = cancelBtn();
  if (cancel && !cancel->isHidden() && cancel->isDefault()) return cancel;
  return okBtn();
}

void ZRNAlertWindowController::U_FitToText() {
  QLayout* layout = this->layout();
  if (!layout) return;
  const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
  const QRect area = shown ? shown->availableGeometry() : QRect(0, 0, 1024, 768);
  layout->activate();
  // As wide as the text likes up to a comfortable reading width, never narrower than the layout was
  // drawn, and within the screen; the height is then what the wrapped text needs at that width.
  const int widest = std::max(minimumSizeHint().width(), std::min(kReadingWidth, area.width() - kScreenMargin));
  int fitWidth = std::clamp(sizeHint().width(), std::min(width(), widest), widest);
  auto heightAt = [layout](int w) { return std::max(layout->totalHeightForWidth(w), layout->totalMinimumSize().height()); };
  int fitHeight = heightAt(fitWidth);
  // A text too long for that goes as wide as the screen allows rather than off its bottom.
  if (fitHeight > area.height() - kScreenMargin && fitWidth < area.width() - kScreenMargin) {
    fitWidth = area.width() - kScreenMargin;
    fitHeight = heightAt(fitWidth);
  }
  setFixedSize(fitWidth, fitHeight);
}

void ZRNAlertWindowController::setVisible(bool visible) {
  if (visible && !isVisible()) {
    U_FitToText();
    if (QPushButton* button = U_DefaultButton()) button->setFocus();
  }
  ZRNBaseDialogWindowController::setVisible(visible);
}
