// The playback window's side pane with its export jobs, the divider between player and pane, the
// window-size commands, the mute rule, the session info popover and the enabling of the menu items.

#include "playback/VLPlaybackWC.h"

#include "common/ZRNAccessibility.h"
#include "common/ZRN_InfoPopoverVC.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNLocalizedStrings.h"

#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNDrawnViews.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNTimeFormatting.h"
#include "composition/ZRNJobsController.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/PropertyList.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"
#include "playback/JobsTableView_Controller.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The one date formatter of the info texts: medium date, short time, and the nearest days in words.
class InfoDateFormatter {
 public:
  static const InfoDateFormatter& shared() {
    static const InfoDateFormatter formatter;
    return formatter;
  }
  QString stringFromDate(const QDateTime& date) const {
    if (!date.isValid()) return QString();
    const QDateTime local = date.toLocalTime();
    const qint64 days = local.date().daysTo(QDate::currentDate());
    QString day;
    if (days == 0)
      day = QStringLiteral("Today");
    else if (days == 1)
      day = QStringLiteral("Yesterday");
    else if (days == -1)
      day = QStringLiteral("Tomorrow");
    else
      day = m_locale.toString(local.date(), QStringLiteral("MMM d, yyyy"));
    return day + QStringLiteral(" at ") + m_locale.toString(local.time(), QLocale::ShortFormat);
  }

 private:
  QLocale m_locale;
};

// Closes the popover's delegate hook when the popup goes away (a click elsewhere closes it).
class PopoverCloseWatcher : public QObject {
 public:
  PopoverCloseWatcher(QObject* parent, std::function<void()> closed) : QObject(parent), m_closed(std::move(closed)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide) m_closed();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> m_closed;
};

}  // namespace

// The jobs pane

void VLPlaybackWC::U_BuildJobsPane(QWidget* paneBox) {
  m_jobBackgroundBox = new QFrame(paneBox);
  m_jobBackgroundBox->setObjectName(QStringLiteral("jobBackgroundBox"));
  paneBox->layout()->addWidget(m_jobBackgroundBox);
  auto* boxLayout = new QVBoxLayout(m_jobBackgroundBox);
  boxLayout->setContentsMargins(0, 0, 0, 0);
  boxLayout->setSpacing(0);
  m_jobSuperView = new QWidget(m_jobBackgroundBox);
  m_jobSuperView->setObjectName(QStringLiteral("jobSuperView"));
  boxLayout->addWidget(m_jobSuperView, 1);
  auto* jobsLayout = new QGridLayout(m_jobSuperView);
  jobsLayout->setContentsMargins(0, 0, 0, 0);
  // The framed view lies under the table and shows through while the list is empty.
  m_noDataView = new ZRN_FramedView(m_jobSuperView);
  m_noDataView->setObjectName(QStringLiteral("noDataView"));
  m_noDataView->setAccessibleName(QStringLiteral("No exported clips"));
  jobsLayout->addWidget(m_noDataView, 0, 0);
  m_jobTableView = new QTableView(m_jobSuperView);
  m_jobTableView->setObjectName(QStringLiteral("jobTableView"));
  m_jobTableView->setAccessibleName(QStringLiteral("Export History"));
  jobsLayout->addWidget(m_jobTableView, 0, 0);

  auto* buttonBar = new QWidget(m_jobBackgroundBox);
  buttonBar->setObjectName(QStringLiteral("jobButtonBar"));
  auto* buttons = new QHBoxLayout(buttonBar);
  buttons->setContentsMargins(6, 4, 6, 4);
  auto* cancelAll = new QPushButton(QStringLiteral("Cancel All"), buttonBar);
  cancelAll->setObjectName(QStringLiteral("cancelAllButton"));
  cancelAll->setAccessibleName(QStringLiteral("Cancel All"));
  cancelAll->setProperty("tag", kJobsPaneCancelAllTag);
  auto* clear = new QPushButton(QStringLiteral("Clear"), buttonBar);
  clear->setObjectName(QStringLiteral("clearLogButton"));
  clear->setAccessibleName(QStringLiteral("Clear"));
  clear->setProperty("tag", kJobsPaneClearTag);
  buttons->addWidget(cancelAll);
  buttons->addStretch(1);
  buttons->addWidget(clear);
  boxLayout->addWidget(buttonBar);

  m_jobsTableController = new JobsTableView_Controller(paneBox, m_jobTableView, this);
  m_jobsTableController->U_SetupEmptyTableView();
}

void VLPlaybackWC::U_RefreshJobsPane() {
  if (m_jobsTableController) m_jobsTableController->updateInterface();
}

void VLPlaybackWC::U_ClearTableSelection() {
  if (m_jobsTableController) m_jobsTableController->U_ClearTableSelection();
}

// Side pane and divider

void VLPlaybackWC::U_SetUpSidePane() {
  m_mainSplitV->setCollapsible(0, splitViewCanCollapseSubview(0));
  m_mainSplitV->setCollapsible(1, splitViewCanCollapseSubview(1));
  // A window resize changes the player side; the pane keeps its width.
  m_mainSplitV->setStretchFactor(0, splitViewShouldAdjustSizeOfSubview(0) ? 1 : 0);
  m_mainSplitV->setStretchFactor(1, splitViewShouldAdjustSizeOfSubview(1) ? 1 : 0);
  m_psaxnoMainSubBox->setMinimumWidth(static_cast<int>(kPlayerSideMinWidth));
  m_psaxnoRightSubBox->setMaximumWidth(static_cast<int>(kSidePaneMaxWidth));
  m_mainSplitV->setSizes({700, static_cast<int>(kSidePaneMinWidth)});
  connect(m_mainSplitV, &QSplitter::splitterMoved, this, [this] { splitViewDidResizeSubviews(true); });
  m_paneIsVisible = m_mainSplitV->sizes().value(1, 1) != 0;
  U_UpdateShowHideJobsButton();
}

double VLPlaybackWC::U_MaxDividerPosition() const {
  return static_cast<double>(m_mainSplitV->width() - m_mainSplitV->handleWidth());
}

double VLPlaybackWC::splitViewConstrainSplitPosition(double proposed, int index) {
  if (index != 0) return proposed;
  const double max = U_MaxDividerPosition();
  const double paneWidth = max - proposed;
  // A pane dragged nearly shut shows again at the smallest width.
  if (2.0 * paneWidth <= kSidePaneMinWidth && m_paneIsVisible && m_dividerPosition == -1.0)
    m_dividerPosition = kSidePaneMinWidth;
  if (paneWidth < kSidePaneMinWidth) return max - kSidePaneMinWidth;
  if (paneWidth > kSidePaneMaxWidth) return max - kSidePaneMaxWidth;
  return std::max(proposed, kPlayerSideMinWidth);
}

void VLPlaybackWC::splitViewDidResizeSubviews(bool userResize) {
  if (!userResize) return;
  const QList<int> sizes = m_mainSplitV->sizes();
  const double position = sizes.value(0);
  const double constrained = splitViewConstrainSplitPosition(position, 0);
  // A pane dragged all the way shut stays collapsed; otherwise the divider keeps to the rule.
  if (sizes.value(1) > 0 && constrained != position) {
    const int total = sizes.value(0) + sizes.value(1);
    const int player = static_cast<int>(constrained);
    m_mainSplitV->setSizes({player, std::max(0, total - player)});
  }
  m_paneIsVisible = m_mainSplitV->sizes().value(1) != 0;
  U_UpdateShowHideJobsButton();
}

void VLPlaybackWC::U_UpdateShowHideJobsButton() {
  QToolButton* button = nullptr;
  if (m_titleAccessoryView) button = m_titleAccessoryView->findChild<QToolButton*>(QStringLiteral("showHideJobsButton"));
  if (button) button->setChecked(!m_paneIsVisible);
}

void VLPlaybackWC::showHideJobsPanel() {
  if (m_paneIsVisible)
    U_HideSidePanel();
  else
    U_UnhideSidePanel();
  U_UpdateShowHideJobsButton();
}

void VLPlaybackWC::U_AnimateDividerTo(double position) {
  if (m_sidePaneAnimation) m_sidePaneAnimation->stop();
  const QList<int> sizes = m_mainSplitV->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  const int target = std::clamp(static_cast<int>(position), 0, total);
  auto* animation = new QVariantAnimation(this);
  animation->setDuration(kSidePaneAnimationMillis);
  animation->setStartValue(sizes.value(0));
  animation->setEndValue(target);
  connect(animation, &QVariantAnimation::valueChanged, this, [this, total](const QVariant& value) {
    const int player = value.toInt();
    m_mainSplitV->setSizes({player, std::max(0, total - player)});
  });
  m_sidePaneAnimation = animation;
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void VLPlaybackWC::U_UnhideSidePanel() {
  const double width = m_dividerPosition == -1.0 ? kSidePaneMinWidth : m_dividerPosition;
  U_AnimateDividerTo(U_MaxDividerPosition() - width);
  m_paneIsVisible = true;
}

void VLPlaybackWC::U_HideSidePanel() {
  m_dividerPosition = m_psaxnoRightSubBox ? m_psaxnoRightSubBox->width() : 0;
  U_AnimateDividerTo(m_mainSplitV->width());
  m_paneIsVisible = false;
}

// Window size

bool VLPlaybackWC::windowIsNaturalSize() const {
  auto doc = vlDocument();
  return doc && m_playerView && QSizeF(m_playerView->size()) == doc->frameSize();
}

bool VLPlaybackWC::windowCanIncreaseSize() const { return windowIsNaturalSize() && !Gui_WindowFillsArea(this); }

void VLPlaybackWC::resizeToNaturalSize() {
  auto doc = vlDocument();
  if (!doc || doc->frameSize().isEmpty()) return;
  // A recording larger than the screen is shown as large as the screen allows, at its own aspect: the
  // transport bar and the title bar stay on the screen.
  // Measured on the box that keeps the player's aspect: the player fills it in one direction, so the
  // box's size is the player's once the window has it.
  resize(Gui_WindowSizeForViewSize(this, m_viewAspectConstrain, doc->frameSize().toSize()));
  Gui_KeepWindowInArea(this);
}
void VLPlaybackWC::increaseWindowSize() { resizeToNaturalSize(); }
void VLPlaybackWC::decreaseWindowSize() { resizeToNaturalSize(); }

// Sound

void VLPlaybackWC::U_InitSoundControls() {
  auto doc = vlDocument();
  m_synchroMovieController->updateControllerForSound(doc && doc->captureAudio());
  QPointer<VLPlaybackWC> guard(this);
  Dispatch_MainAsync([guard] {
    if (guard) guard->U_UpdateSoundControls();
  });
}

void VLPlaybackWC::U_UpdateSoundControls() {
  auto doc = vlDocument();
  if (!doc || !doc->captureAudio()) return;
  const ZRNAppHost& host = ZRNAppHost_Shared();
  // A recording's microphone must not pick up our playback: always so with the built-in one, and with
  // another one when the preference asks for it.
  const bool mute = host.recordingIsON() && host.recordingCapturesAudio() &&
                    (host.recordingMicrophoneIsBuiltIn() || Prefs_Shared().closeAudioPlaybackWhenRecording());
  if (mute)
    m_synchroMovieController->soundOFF();
  else
    m_synchroMovieController->soundMAX();
}

void VLPlaybackWC::captureStateChanged() { U_UpdateSoundControls(); }

// Info popover

void VLPlaybackWC::createPopover() {
  if (m_fInfoPopover) return;
  if (!m_popoverViewController) m_popoverViewController = new ZRN_InfoPopoverVC(QStringLiteral("ZRN_InfoPopover_plain"));
  QFrame* popover = ZRN_MakeInfoPopover(this, m_popoverViewController, QStringLiteral("fInfoPopover"), QStringLiteral("Session Info"));
  ZRNAccessible_SetPopover(m_infoBtn, popover);
  m_popoverViewController->setActionTo([this] { popOverAction(); }, this);
  popover->installEventFilter(new PopoverCloseWatcher(popover, [this] { popoverDidClose(); }));
  m_fInfoPopover = popover;
  m_popoverHasDelegate = true;
}

void VLPlaybackWC::showInfo(QWidget* sender) {
  createPopover();
  m_popoverViewController->enableActionButton(true);
  if (m_fInfoPopover->isVisible()) {
    m_fInfoPopover->close();
    return;
  }
  m_popoverViewController->setWebViewPsaxnoTo(infoPopupHtml());
  // Below the sender, centred on it, wholly on its screen.
  ZRN_PlaceInfoPopover(m_fInfoPopover, m_popoverViewController, sender ? sender : m_infoBtn);
  m_fInfoPopover->show();
  if (m_popoverHasDelegate) popoverDidShow();
}

void VLPlaybackWC::popoverDidShow() {
  QTextBrowser* webView = m_popoverViewController ? m_popoverViewController->theWebView() : nullptr;
  if (!webView || !m_fInfoPopover) return;
  // A text cut to fit the screen scrolls: growing the popover again would put it off the screen.
  if (webView->verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded) return;
  const double delta = m_popoverViewController->textHeight() - webView->height();
  if (delta != 20.0) m_fInfoPopover->resize(m_fInfoPopover->width(), m_fInfoPopover->height() + static_cast<int>(std::lround(delta)));
}

void VLPlaybackWC::popoverDidClose() { m_popoverHasDelegate = false; }

void VLPlaybackWC::popOverAction() {
  // The package is selected in a file manager window of its folder.
  const QString package = U_PackagePath();
  if (!package.isEmpty()) Alert_RevealInFolder(package, false);
}

QString VLPlaybackWC::infoPopupHtml() const { return U_InfoPopupHtml(InfoPopupForm()); }

QString VLPlaybackWC::U_InfoPopupHtml(const InfoPopupForm& form) const {
  auto doc = vlDocument();
  const QString packagePath = QFileInfo(m_capturedMovieURL.toLocalFile()).absolutePath();
  QString withoutExtension = packagePath;
  const QString suffix = QFileInfo(packagePath).suffix();
  if (!suffix.isEmpty()) withoutExtension.chop(suffix.size() + 1);
  const auto item = m_player ? m_player->currentItem() : nullptr;
  const MediaTime duration = item ? item->duration() : kMediaTimeZero;
  const QSizeF frame = doc ? doc->frameSize() : QSizeF();

  QString html = ZRN_LocalizedString(QStringLiteral("infopop_html_head"));
  html += QStringLiteral("<span style=\"font:Lucida Grande Regular;color:white\">\n");
  html += QStringLiteral("<table>\n");
  html += QStringLiteral("<th colspan=\"2\">File Info</th>");
  html += ZRN_InfoRow(QStringLiteral("File&nbsp;"), withoutExtension);
  html += ZRN_InfoRow(QStringLiteral("Date recorded&nbsp;"),
                    doc ? InfoDateFormatter::shared().stringFromDate(doc->docCaptureDate()) : QString());
  html += ZRN_InfoRow(QStringLiteral("Duration&nbsp;"), cmtimeAsTimeStamp(duration, QStringLiteral(":")) + QStringLiteral(" s"));
  html += ZRN_InfoRow(QStringLiteral("File size&nbsp;"), Fmt("%.1lf MB", File_FolderSizeMB(QUrl::fromLocalFile(packagePath))));
  if (form.dataRateRow)
    html += ZRN_InfoRow(QStringLiteral("Data rate&nbsp;"), Fmt("%ld Kbit/s", static_cast<long>(doc ? doc->segmentKBPS() : 0)));
  html += QStringLiteral("</table>\n");
  html += QStringLiteral("\n<br><br>\n\n");
  html += QStringLiteral("<table>\n");
  html += QStringLiteral("<th colspan=\"2\">Video Source</th>");
  html += ZRN_InfoRow(QStringLiteral("Name&nbsp;"), doc ? doc->cameraName() : QString());
  html += ZRN_InfoRow(QStringLiteral("Frame size&nbsp;"), Fmt("%.0f x %.0f", frame.width(), frame.height()));
  html += ZRN_InfoRow(QStringLiteral("Frame rate&nbsp;"), Fmt("%.2f fps", static_cast<double>(doc ? doc->videoFPS() : 0.0f)));
  html += ZRN_InfoRow(QStringLiteral("UID&nbsp;"), doc ? doc->cameraUID() : QString());
  html += QStringLiteral("</table>\n");
  html += QStringLiteral("\n<br><br>\n\n");
  html += QStringLiteral("<table>\n");
  if (doc && doc->captureAudio()) {
    html += QStringLiteral("<th colspan=\"2\">Audio Source</th>");
    html += ZRN_InfoRow(QStringLiteral("Name&nbsp;"), doc->microphoneName());
    html += ZRN_InfoRow(QStringLiteral("Audio rate&nbsp;"), Fmt("%.0f Hz", doc->audioCaptureRate()));
    html += ZRN_InfoRow(QStringLiteral("UID&nbsp;"), doc->microphoneUID());
  } else {
    html += QStringLiteral("<th colspan=\"2\">") + form.noAudioHeader + QStringLiteral("</th>");
  }
  html += QStringLiteral("</table>\n");
  if (form.closingSpace) html += QStringLiteral("<p>&nbsp;\n&nbsp;\n&nbsp;\n&nbsp;\n</p>");
  html += QStringLiteral("</span>\n");
  html += ZRN_LocalizedString(QStringLiteral("infopop_html_footer"));
  return html;
}

// Menus

bool VLPlaybackWC::validateMenuItem(const QAction* item) const {
  if (!item) return false;
  const QString name = item->objectName();
  static const QStringList needsMovie{QStringLiteral("defineInPoint"),
                                      QStringLiteral("defineOutPoint"),
                                      QStringLiteral("exportMoment"),
                                      QStringLiteral("define1stPeriodStartPoint"),
                                      QStringLiteral("define1stPeriodEndPoint"),
                                      QStringLiteral("define2ndPeriodStartPoint"),
                                      QStringLiteral("define2ndPeriodEndPoint")};
  const bool modal = QApplication::activeModalWidget() != nullptr;
  if (needsMovie.contains(name)) {
    auto current = m_player ? m_player->currentItem() : nullptr;
    return current && MediaTimeGetSeconds(current->duration()) != 0.0;
  }
  if (name == QLatin1String("exportInOutClip") || name == QLatin1String("clearInOutPoints"))
    return !modal && (m_marks.inTimeMillis() >= 0 || m_marks.outTimeMillis() >= 0);
  if (name == QLatin1String("exportAll")) return !modal && totalDuration() > 0.1;
  // Goals, previous and next mark and the window-size commands are always available here; the base
  // window's natural-size rule does not apply.
  return true;
}

void VLPlaybackWC::U_ValidateMenuItems() {
  for (QAction* action : m_actions) action->setEnabled(validateMenuItem(action));
}
