#include "capture/ZRNWaitingForDeviceWC.h"

#include "common/ZRNDarkLook.h"

#include "platform/gui/DialogRunner.h"
#include "platform/media/capture/CaptureDevice.h"
#include "ui_ZRNWaitingWindowController.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

namespace {

// The "device off" pictures: a camera or a microphone outline, struck through.
QPixmap deviceOffPixmap(MediaType type, const QColor& color) {
  const int side = 56;
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(color, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  if (type == MediaType::Video) {
    painter.drawRoundedRect(QRectF(6, 17, 30, 22), 4, 4);
    QPainterPath lens;
    lens.moveTo(38, 24);
    lens.lineTo(50, 17);
    lens.lineTo(50, 39);
    lens.lineTo(38, 32);
    lens.closeSubpath();
    painter.drawPath(lens);
  } else {
    painter.drawRoundedRect(QRectF(21, 6, 14, 26), 7, 7);
    painter.drawArc(QRectF(14, 16, 28, 24), 180 * 16, 180 * 16);
    painter.drawLine(QPointF(28, 40), QPointF(28, 48));
    painter.drawLine(QPointF(20, 48), QPointF(36, 48));
  }
  painter.drawLine(QPointF(8, 8), QPointF(48, 48));
  return pixmap;
}

}  // namespace

ZRNWaitingWindowController::ZRNWaitingWindowController(const QString& uid, const QString& name, QWidget* parent)
    : ZRNBaseDialogWindowController(parent), m_savedUID(uid), m_savedName(name) {
  Ui::ZRNWaitingWindowController layout;
  layout.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  awakeFromNib();
  windowDidLoad();
  U_UpdateTitle();
}

ZRNWaitingWindowController::~ZRNWaitingWindowController() { U_CleanupObservers(); }

void ZRNWaitingWindowController::windowDidLoad() {
  m_deviceIcon = findChild<QLabel*>(QStringLiteral("deviceIcon"));
  m_deviceIconBack = findChild<QWidget*>(QStringLiteral("deviceIconBack"));
  m_progressIndicator = findChild<QProgressBar*>(QStringLiteral("progressIndicator"));
  // The dialog keeps its dark look whatever the desktop's theme.
  ZRN_ApplyDarkLook(this, palette());
  setAutoFillBackground(true);
  U_UpdateIcon();
  if (m_progressIndicator) {
    m_progressIndicator->setRange(0, 0);  // an endless busy indicator
    m_progressIndicator->setAccessibleName(tr("Waiting"));
  }
  NotificationCenter& center = NotificationCenter::defaultCenter();
  // Announced on the hot-plug thread; handled on the main thread while the dialog lives.
  const NotificationToken token = center.addObserver(QString::fromLatin1(kCaptureDeviceWasConnectedNotification),
                                                     nullptr, this, [this](const Notification& note) {
                                                       newDeviceConnected(note);
                                                     });
  m_deviceObservation = NotificationObservation(center, token);
}

void ZRNWaitingWindowController::U_UpdateIcon() {
  if (m_deviceIcon) m_deviceIcon->setPixmap(deviceOffPixmap(deviceType(), palette().color(QPalette::WindowText)));
}

void ZRNWaitingWindowController::U_CleanupObservers() { m_deviceObservation.reset(); }

MediaType ZRNWaitingWindowController::deviceType() const {
  std::lock_guard lock(m_mutex);
  return m_deviceType;
}

void ZRNWaitingWindowController::setDeviceType(MediaType type) {
  {
    std::lock_guard lock(m_mutex);
    m_deviceType = type;
  }
  U_UpdateIcon();
  U_UpdateTitle();
}

void ZRNWaitingWindowController::U_UpdateTitle() {
  // The window's name for a screen reader and in the window list; the text says the rest.
  setWindowTitle(deviceType() == MediaType::Video ? tr("Waiting for a Camera") : tr("Waiting for a Microphone"));
  if (m_deviceIcon)
    m_deviceIcon->setAccessibleName(deviceType() == MediaType::Video ? tr("Camera not connected") : tr("Microphone not connected"));
}

QString ZRNWaitingWindowController::savedUID() const {
  std::lock_guard lock(m_mutex);
  return m_savedUID;
}

void ZRNWaitingWindowController::setSavedUID(const QString& uid) {
  std::lock_guard lock(m_mutex);
  m_savedUID = uid;
}

QString ZRNWaitingWindowController::savedName() const {
  std::lock_guard lock(m_mutex);
  return m_savedName;
}

void ZRNWaitingWindowController::setSavedName(const QString& name) {
  std::lock_guard lock(m_mutex);
  m_savedName = name;
}

void ZRNWaitingWindowController::setErrorType(int errorType) {
  if (errorType == m_errorType) return;
  m_errorType = errorType;
  if (errorType >= 0) return;
  if (QLabel* field = mainTextfield()) {
    field->setTextFormat(Qt::RichText);
    field->setText(displayText());
  }
  if (errorType == kWaitingErrorNoDeviceFound && m_progressIndicator) {
    m_progressIndicator->setRange(0, 100);
    m_progressIndicator->hide();
  }
  QPushButton* button = okBtn();
  if (!button) return;
  m_buttonCancels = false;
  if (errorType == kWaitingErrorNoDeviceFound || errorType == kWaitingErrorNoDevice) {
    m_buttonCancels = deviceType() == MediaType::Video;
    button->setText(m_buttonCancels ? tr("Cancel") : tr("Ignore Audio"));
  } else if (errorType == kWaitingErrorSavedDeviceMissing) {
    button->setText(tr("Forget device"));
  }
}

void ZRNWaitingWindowController::reject() {
  // Escape gives the wait up where the button does just that. "Forget device" and "Ignore Audio" change
  // what is recorded: only the button itself chooses them.
  if (m_buttonCancels && okBtn() && okBtn()->isVisible() && okBtn()->isEnabled()) {
    okAction();
    return;
  }
  ZRNBaseDialogWindowController::reject();
}

QString ZRNWaitingWindowController::displayText() const {
  const bool video = deviceType() == MediaType::Video;
  QString title;
  QString explanation;
  switch (m_errorType) {
    case kWaitingErrorNoDeviceFound:
      title = QStringLiteral("No %1 were found...").arg(video ? QStringLiteral("cameras") : QStringLiteral("microphones"));
      explanation = video ? QStringLiteral("Check whether a camera is connected and properly setup and try again.")
                          : QStringLiteral("Check whether an audio recording device is connected and properly setup "
                                           "and try again, or choose to forgo audio recording.");
      break;
    case kWaitingErrorNoDevice:
      title = QStringLiteral("No %1 were found...").arg(video ? QStringLiteral("cameras") : QStringLiteral("microphones"));
      explanation = video ? QStringLiteral("Check whether your camera is connected and properly setup and try again.")
                          : QStringLiteral("Check whether your audio recording device is connected and properly "
                                           "setup and try again, or choose to forgo audio recording.");
      break;
    case kWaitingErrorSavedDeviceMissing:
      // Without a saved name there is nothing to quote.
      title = savedName().isEmpty()
                  ? QStringLiteral("Waiting for the last used device to become available...")
                  : QStringLiteral("Waiting for last used device '%1' to become available...").arg(savedName());
      explanation = QStringLiteral("If this dialog persists, check whether the device is properly setup or click "
                                   "the button below to use another device.");
      break;
    default:
      return {};
  }
  return Gui_DialogMessageHTML(title, explanation);
}

void ZRNWaitingWindowController::newDeviceConnected(const Notification& note) {
  // The device's description travels in the userInfo ("uniqueID", "mediaType"), so it is read the same
  // whichever thread announced it and whether or not the device is still there.
  const QString mediaType = note.userInfo.value(QStringLiteral("mediaType")).toString();
  const QString uniqueID = note.userInfo.value(QStringLiteral("uniqueID")).toString();
  const MediaType type = deviceType();
  const bool sameType = mediaType == QLatin1String(MediaType_Name(type));
  const QString awaited = savedUID();
  if (!sameType || (!awaited.isEmpty() && awaited != uniqueID)) return;
  // Delivered on the main thread while the dialog lives. The cancel is queued: it ends the observation
  // and the dialog, which must not happen inside the delivery; an event queued to a dialog deleted
  // before it runs is dropped.
  QMetaObject::invokeMethod(this, [this] { cancelAction(); }, Qt::QueuedConnection);
}

void ZRNWaitingWindowController::okAction() {
  U_CleanupObservers();
  ZRNBaseDialogWindowController::okAction();
}

void ZRNWaitingWindowController::cancelAction() {
  U_CleanupObservers();
  ZRNBaseDialogWindowController::cancelAction();
}
