// The application delegate's menu commands that open something: the preferences, the log file, the
// vendor's pages and the about box.

#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppMenus.h"
#include "app/ZRNAppPreferences.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNBaseClasses.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/PropertyList.h"
#include "platform/system/WindowTitleFit.h"
#include "platform/system/Workspace.h"

#include "capture/VLLiveWC.h"
#include "prefs/ZRNPrefsController.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kStorePageURL = QStringLiteral("https://flathub.org/apps/org.velmora.Velmora");
// What no program on this desktop opened: a file, or an address.
constexpr int kAlertFileNotOpened = 20046;
constexpr int kAlertAddressNotOpened = 20047;

// A resource of the application as a file the desktop can open, copied into this run's temporary folder.
QString resourceAsFile(const QString& resource, const QString& fileName) {
  const QString folder = File_RunTemporaryFolder();
  if (folder.isEmpty()) return QString();
  const QString path = folder + QLatin1Char('/') + fileName;
  QFile::remove(path);
  if (!QFile::copy(resource, path)) return QString();
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  return path;
}
}  // namespace

// Menu commands

ZRNAppMenus* ZRNAppDelegate::mainMenu() {
  if (!m_mainMenu) m_mainMenu = new ZRNAppMenus(this);
  return m_mainMenu;
}

QWidget* ZRNAppDelegate::keyWindow() const {
  if (m_keyWindowForTesting) return m_keyWindowForTesting;
  return QApplication::activeWindow();
}

void ZRNAppDelegate::startRecording() { VLLiveWC_ToggleCapture(); }

void ZRNAppDelegate::stopRecording() {
  VLLiveWC_ToggleCapture();
  // A closing live window lets go of itself (it is deleted on close).
}

void ZRNAppDelegate::showHidePreferencesWindow() {
  // The camera settings cannot change while recording: the export settings show instead.
  if (VLLiveWC_RecordingUnderWay() && ZRNPrefsController_CurrentModuleIdentifier() == QLatin1String("CameraPrefsPane"))
    ZRNPrefsController_SelectModule(QStringLiteral("ExportPrefsPane"));
  ZRNPrefsController_ShowOrHideWindow();
}

void ZRNAppDelegate::orderOutPreferencesWindow() {
  ZRNPrefsController* prefs = ZRNPrefsController::existingController();
  if (!prefs || !prefs->isVisible()) return;
  prefs->hide();
  setPrefsWindowIsON(false);
}

void ZRNAppDelegate::showHideCameraPreferences() {
  if (VLLiveWC_RecordingUnderWay()) return;
  ZRNPrefsController_ShowOrHideWindow();
  ZRNPrefsController_SelectModule(QStringLiteral("CameraPrefsPane"));
}

bool ZRNAppDelegate::U_OpenURL(const QUrl& url) {
  m_lastOpenedURL = url;
  ZRNLogger_Log(QStringLiteral("open %@"), url.toString());
  if (Workspace_OpenURL(url)) return true;
  // Nothing on this desktop opens it: the user gets the file's place (or the address) to open it himself.
  const bool file = url.isLocalFile();
  const QString name = file ? QFileInfo(url.toLocalFile()).fileName() : url.toString();
  Dispatch_MainAsync([file, name, where = file ? url.toLocalFile() : url.toString()] {
    Alert_ShowHandOffFailure(file ? kAlertFileNotOpened : kAlertAddressNotOpened, name, where);
  });
  return false;
}

void ZRNAppDelegate::showLogFile() {
  // This run's log in today's folder of the debug logs.
  QString path = ZRNAppSetup::sharedAppSetup()->debugLogFilename();
  if (path.isEmpty()) path = ZRNAppSetup::sharedAppSetup()->zrnDebugLogsFolderPath();
  if (path.isEmpty()) return;
  U_OpenURL(QUrl::fromLocalFile(path));
}

void ZRNAppDelegate::launchVendorWebsite() {
  const QVariantMap table = PropertyList_ReadFile(QStringLiteral(":/text/VendorLocalizable.plist")).toMap();
  const QString url = table.value(QStringLiteral("VendorURL")).toString();
  if (!url.isEmpty()) U_OpenURL(QUrl(url));
}

void ZRNAppDelegate::showHVAppStorePage() { U_OpenURL(QUrl(kStorePageURL)); }

void ZRNAppDelegate::showAcknowledgments() {
  const QString path = resourceAsFile(QStringLiteral(":/html/Acknowledgments.html"), QStringLiteral("Acknowledgments.html"));
  if (!path.isEmpty()) U_OpenURL(QUrl::fromLocalFile(path));
}

void ZRNAppDelegate::sparkleUpdateCheck() { SUUpdater_CheckForUpdates(); }

void ZRNAppDelegate::showAboutBox() {
  if (!m_aboutPanel) {
    auto* panel = new QDialog(nullptr, Qt::Dialog);
    panel->setObjectName(QStringLiteral("aboutPanel"));
    panel->setWindowTitle(QCoreApplication::translate("Localizable", "About Velmora"));
    auto* layout = new QVBoxLayout(panel);
    if (const QIcon icon = QApplication::windowIcon(); !icon.isNull()) {
      auto* picture = new QLabel(panel);
      picture->setObjectName(QStringLiteral("aboutIcon"));
      picture->setPixmap(icon.pixmap(64, 64));
      picture->setAccessibleName(QCoreApplication::translate("Localizable", "Velmora icon"));
      picture->setAlignment(Qt::AlignCenter);
      layout->addWidget(picture);
    }
    auto* name = new QLabel(QStringLiteral("<b>Velmora</b>"), panel);
    name->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(panel);
    version->setObjectName(QStringLiteral("aboutVersionField"));
    version->setAlignment(Qt::AlignCenter);
    // The build date as the compiler writes it ("May 12 2023"), which pads a one-digit day with a
    // space ("Dec  7 2026"): shown with single spaces.
    version->setText(Fmt(QStringLiteral("ver. %@, %@"), QCoreApplication::applicationVersion(),
                         QString::fromLatin1(__DATE__).simplified()));
    auto* product = new QLabel(panel);
    product->setObjectName(QStringLiteral("aboutProductNumberField"));
    product->hide();
    // Links that open elsewhere; Tab reaches each and Space follows it.
    auto* acknowledgments = new ZRNHyperlinkButton(QCoreApplication::translate("Localizable", "Acknowledgments"), panel);
    acknowledgments->setObjectName(QStringLiteral("aboutAcknowledgementsTitle"));
    acknowledgments->setAccessibleDescription(QCoreApplication::translate("Localizable", "Opens the acknowledgments"));
    connect(acknowledgments, &QPushButton::clicked, this, [this] { showAcknowledgments(); });
    auto* website = new ZRNHyperlinkButton(QCoreApplication::translate("Localizable", "Velmora Website"), panel);
    website->setObjectName(QStringLiteral("aboutLicenseAgreementTitle"));
    website->setAccessibleDescription(QCoreApplication::translate("Localizable", "Opens Velmora's website"));
    connect(website, &QPushButton::clicked, this, [this] { launchVendorWebsite(); });
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(product);
    // As wide as their text, so that the focus ring hugs the link.
    layout->addWidget(acknowledgments, 0, Qt::AlignHCenter);
    layout->addWidget(website, 0, Qt::AlignHCenter);
    Window_FitTitleAndTexts(panel);
    m_aboutPanel = panel;
  }
  bringDocWindowToFront(m_aboutPanel);
}
