// The recording half's texts (the description and the information popover), the popover itself and the
// window's size actions.

#include "capture/VLLiveWC_Recording.h"

#include "common/ZRNAccessibility.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLocalizedStrings.h"
#include "common/ZRN_InfoPopoverVC.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/foundation/Fmt.h"

#include <QAbstractButton>
#include <QAction>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

// --- texts ---------------------------------------------------------------------------------------

QString VLLiveWC_Recording::updateCaptureDescriptionLabel() const {
  const ZRNAppPrefs& p = Prefs_Shared();
  const QSizeF size = p.movieSize();
  const float fps = p.captureFPS();
  QString text = Fmt("Video source: %@", p.cameraName());
  // A whole-number rate reads "30fps"; any other "29.97fps".
  if (static_cast<int64_t>(fps * 100) % 100 == 0)
    text += Fmt(", frame size: %.0f x %.0f @ %.0ffps", size.width(), size.height(), fps);
  else
    text += Fmt(", frame size: %.0f x %.0f @ %.2ffps", size.width(), size.height(), fps);
  if (p.hasAudioDevice() && m_host->captureAudio())
    text += Fmt("\nAudio source: %@", p.microphoneName()) + Fmt(", rate: %.0fHz", p.microphoneCaptureRate());
  else if (p.hasAudioDevice())
    text += QStringLiteral("\nAudio capture is disabled");
  else
    text += QStringLiteral("\nNo Audio device found");
  return text;
}

QString VLLiveWC_Recording::infoPopupHtml() const {
  const ZRNAppPrefs& p = Prefs_Shared();
  const QSizeF size = p.movieSize();
  QString html = ZRN_LocalizedString(QStringLiteral("infopop_html_head"));
  html += QStringLiteral("<span style=\"font:Lucida Grande Regular;color:white\">");
  html += QStringLiteral("<table><tr><th colspan=\"2\">Video Source</th></tr>");
  html += ZRN_InfoRow(QStringLiteral("Name&nbsp;"), p.cameraName());
  html += ZRN_InfoRow(QStringLiteral("Frame size&nbsp;"), Fmt("%.0f x %.0f", size.width(), size.height()));
  html += ZRN_InfoRow(QStringLiteral("Frame rate&nbsp;"), Fmt("%.2f fps", p.captureFPS()));
  html += ZRN_InfoRow(QStringLiteral("UID&nbsp;"), p.cameraUID());
  html += QStringLiteral("</table>");
  html += QStringLiteral("<br><br>");
  html += QStringLiteral("<table><tr><th colspan=\"2\">Audio Source</th></tr>");
  const bool microphoneAccess = gZRNAppSetup && gZRNAppSetup->hasMicrophoneAccess();
  if (microphoneAccess && p.captureAudio()) {
    html += ZRN_InfoRow(QStringLiteral("Name&nbsp;"), p.microphoneName());
    html += ZRN_InfoRow(QStringLiteral("Audio rate&nbsp;"), Fmt("%.0f Hz", p.microphoneCaptureRate()));
    html += ZRN_InfoRow(QStringLiteral("UID&nbsp;"), p.microphoneUID());
  } else if (!microphoneAccess) {
    html += QStringLiteral(
        "<tr><td colspan=\"2\">Audio recording is disabled because<br>access to the microphone's device "
        "files (/dev/snd/*) is not granted:<br>your user is not a member of the group audio</td></tr>");
  } else {
    html += QStringLiteral("<tr><td colspan=\"2\">Audio recording is disabled</td></tr>");
  }
  html += QStringLiteral("</table>");
  html += QStringLiteral("<table>");
  html += ZRN_InfoRow(QStringLiteral("&nbsp;"), QString());
  html += ZRN_InfoRow(QStringLiteral("Data rate&nbsp;"), Fmt("%ld Kbps", static_cast<long>(p.segmentKBPS())));
  html += QStringLiteral("</table>");
  html += QStringLiteral("</span>");
  html += ZRN_LocalizedString(QStringLiteral("infopop_html_footer"));
  return html;
}

// --- popover -------------------------------------------------------------------------------------

void VLLiveWC_Recording::createPopover() {
  if (m_popover) return;
  // The playback window's component, so that both popovers look alike.
  m_popoverViewController = new ZRN_InfoPopoverVC(QStringLiteral("ZRN_InfoPopover"));
  m_popover = ZRN_MakeInfoPopover(m_host->window(), m_popoverViewController, QStringLiteral("infoPopover"),
                                  QStringLiteral("Source Info"));
  m_popoverViewController->setActionTo([this] { showHideCameraPreferences(); }, this);
  m_popoverViewController->setActionTitle(QStringLiteral("Camera Settings…"));
}

void VLLiveWC_Recording::showHideCameraPreferences() {
  // The application's own "Camera Settings…" command, as the window's menu bar carries it: the
  // application delegate answers it (and opens the camera settings when it may).
  auto* window = qobject_cast<QMainWindow*>(m_host->window());
  QWidget* bar = window ? window->menuWidget() : nullptr;
  if (!bar) return;
  for (QAction* top : bar->actions()) {
    const QMenu* menu = top->menu();
    if (!menu) continue;
    for (QAction* action : menu->actions()) {
      if (action->objectName() != QLatin1String("showHideCameraPreferences")) continue;
      if (m_popover) m_popover->close();
      action->trigger();
      return;
    }
  }
}

void VLLiveWC_Recording::showInfo(QWidget* sender) {
  createPopover();
  m_popoverViewController->enableActionButton(!isRecording());
  if (m_popover->isVisible()) {
    m_popover->close();
    popoverDidClose();
    return;
  }
  m_popoverViewController->setWebViewPsaxnoTo(infoPopupHtml());
  ZRNAccessible_SetPopover(qobject_cast<QAbstractButton*>(sender), m_popover);
  ZRN_PlaceInfoPopover(m_popover, m_popoverViewController, sender);
  m_popover->show();
  popoverDidShow();
}

void VLLiveWC_Recording::popoverDidShow() {
  // The popover was sized to its text when it was placed; a text that has grown since (a device renamed
  // while it was shown) is placed anew, inside the screen.
  if (!m_popover || !m_popoverViewController) return;
  if (m_popover->height() < m_popover->sizeHint().height())
    ZRN_PlaceInfoPopover(m_popover, m_popoverViewController, m_popover->parentWidget());
}

void VLLiveWC_Recording::popoverDidClose() {}

// --- window size ---------------------------------------------------------------------------------

bool VLLiveWC_Recording::windowIsNaturalSize() const {
  QWidget* preview = m_host->previewView();
  return preview && QSizeF(preview->size()) == Prefs_Shared().movieSize();
}
bool VLLiveWC_Recording::windowCanIncreaseSize() const {
  return windowIsNaturalSize() && !(m_host->window() && Gui_WindowFillsArea(m_host->window()));
}
bool VLLiveWC_Recording::windowCanDecreaseSize() const { return windowIsNaturalSize(); }

void VLLiveWC_Recording::U_SetContentSizeForMovieSize() {
  QWidget* window = m_host->window();
  QWidget* preview = m_host->previewView();
  if (!window || !preview) return;
  // Never larger than the screen: a camera of more pixels than the screen shows as large as it allows.
  window->resize(Gui_WindowSizeForViewSize(window, preview, Prefs_Shared().movieSize().toSize()));
  Gui_KeepWindowInArea(window);
}
void VLLiveWC_Recording::resizeToNaturalSize() { U_SetContentSizeForMovieSize(); }
void VLLiveWC_Recording::increaseWindowSize() { U_SetContentSizeForMovieSize(); }
void VLLiveWC_Recording::decreaseWindowSize() { U_SetContentSizeForMovieSize(); }
