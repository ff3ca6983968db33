#include "playback/ZRNJobTableCell.h"

#include "ui_ZRNJobCell.h"

#include "common/ZRNDrawnViews.h"
#include "composition/VL_ExportJobRecord.h"
#include "playback/JobsTableView_Controller.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QToolButton>

namespace {

QString U_MenuTitle(const char* text) { return QCoreApplication::translate("MenuItems", text); }

// Texts are white on the row's dark rounded background, in every state of the window. Inside the table
// the row's labels take the viewport's background role, so they draw with Text rather than WindowText:
// both are set.
void U_WhiteTexts(QWidget* cell) {
  QPalette palette = cell->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
      palette.setColor(group, role, Qt::white);
  cell->setPalette(palette);
}

// The largest point size (at most the window's) at which three lines, the progress bar and the row's
// margins fit in the row's height, so that a waiting or running row shows every line whole.
double U_LinePointSize(const QFont& base, int available, int barHeight) {
  double size = base.pointSizeF() > 0 ? base.pointSizeF() : 9.0;
  for (; size > 6.0; size -= 0.5) {
    QFont bold = base;
    bold.setPointSizeF(size);
    bold.setBold(true);
    QFont plain = base;
    plain.setPointSizeF(size);
    if (QFontMetrics(bold).height() + 2 * QFontMetrics(plain).height() + barHeight <= available) break;
  }
  return size;
}

}  // namespace

ZRNJobTableCell::ZRNJobTableCell(QWidget* parent) : QWidget(parent) {
  setObjectName(QString::fromLatin1(kZRNJobCellIdentifier));
  Ui::ZRNJobCell layout;
  layout.setupUi(this);
  m_backgroundView = layout.backgroundView;
  m_imageView = layout.imageView;
  m_imageView->hide();
  m_typeBadge = layout.typeBadge;
  m_titleText = layout.titleText;
  m_descriptionText = layout.descriptionText;
  m_infoText = layout.infoText;
  m_jobProgress = layout.jobProgress;
  m_progressText = layout.progressText;
  m_abortBtn = layout.abortBtn;
  m_revealBtn = layout.revealBtn;
  U_WhiteTexts(this);
  U_FitLinesInRow();

  connect(m_abortBtn, &QToolButton::clicked, this, [this] {
    if (m_tableController) m_tableController->cancelJob(m_abortBtn);
  });
  connect(m_revealBtn, &QToolButton::clicked, this, [this] {
    if (m_tableController) m_tableController->revealResultsInFinder(m_revealBtn);
  });
  awakeFromNib();
}

ZRNJobTableCell::~ZRNJobTableCell() = default;

void ZRNJobTableCell::U_FitLinesInRow() {
  const QMargins cellMargins = layout()->contentsMargins();
  const QMargins textMargins = m_backgroundView->layout()->contentsMargins();
  const int available = JobsTableView_Controller::kRowHeight - cellMargins.top() - cellMargins.bottom() -
                        textMargins.top() - textMargins.bottom();
  const double size = U_LinePointSize(font(), available, m_jobProgress->maximumHeight());
  for (QLabel* line : {m_titleText, m_descriptionText, m_infoText, m_progressText}) {
    QFont lineFont = line->font();
    lineFont.setPointSizeF(size);
    line->setFont(lineFont);
  }
}

void ZRNJobTableCell::awakeFromNib() {
  m_backgroundView->setCornerRadius(3);
  QFont italic = m_infoText->font();
  italic.setItalic(true);
  m_infoText->setFont(italic);
  m_typeBadge->setBackColor(QColor(Qt::transparent));
  m_typeBadge->setLineColor(ZRN_WhiteColor(0.85));
  m_typeBadge->setCornerRadius(3);
  m_typeBadge->setLineWidth(1);
  m_typeBadge->setFontSize(9);
  m_typeBadge->setBaselineDelta(1);
}

void ZRNJobTableCell::setTableController(JobsTableView_Controller* controller) { m_tableController = controller; }

void ZRNJobTableCell::setTheJob(ZRN_JobRecord* job) {
  if (m_theJob == job) return;
  if (m_theJob) disconnect(m_theJob, nullptr, this, nullptr);
  m_theJob = job;
  if (job) {
    connect(job, &ZRN_JobRecord::titleTipStringChanged, this, &ZRNJobTableCell::updateBindings);
    connect(job, &ZRN_JobRecord::descriptionTipStringChanged, this, &ZRNJobTableCell::updateBindings);
  }
  updateBindings();
}

void ZRNJobTableCell::updateBindings() {
  auto* job = qobject_cast<VL_ExportJobRecord*>(m_theJob.data());
  const QString title = m_theJob ? m_theJob->title() : QString();
  m_titleText->setText(title);
  m_descriptionText->setText(m_theJob ? m_theJob->descriptionString() : QString());
  m_infoText->setText(m_theJob ? m_theJob->infoString() : QString());
  m_titleText->setToolTip(job ? job->titleTipString() : QString());
  m_descriptionText->setToolTip(m_theJob ? m_theJob->descriptionTipString() : QString());
  setAccessibleName(title.isEmpty() ? QStringLiteral("Export Job") : title);
}

void ZRNJobTableCell::removeFromList() {
  if (m_tableController) m_tableController->deleteJobRecord(m_revealBtn);
}

void ZRNJobTableCell::revealInFinderContextual() {
  if (m_tableController) m_tableController->revealResultsInFinder(m_revealBtn);
}

void ZRNJobTableCell::cancelJobContextual() {
  if (m_tableController) m_tableController->cancelJob(m_abortBtn);
}

bool ZRNJobTableCell::validateMenuItem(const QAction* item) const {
  if (!item || !m_theJob) return false;
  const QString name = item->objectName();
  if (name == QLatin1String("removeFromList") || name == QLatin1String("revealInFinderContextual"))
    return m_theJob->isFinished();
  if (name == QLatin1String("cancelJobContextual")) return !m_theJob->isFinished();
  return false;
}

QAction* ZRNJobTableCell::U_MenuItem(QMenu* menu, const char* title, const char* name, void (ZRNJobTableCell::*operation)()) {
  QAction* item = menu->addAction(U_MenuTitle(title));
  item->setObjectName(QString::fromLatin1(name));
  QPointer<ZRNJobTableCell> guard(this);
  connect(item, &QAction::triggered, this, [guard, item, operation] {
    if (guard && guard->validateMenuItem(item)) (guard.data()->*operation)();
  });
  item->setEnabled(validateMenuItem(item));
  return item;
}

QMenu* ZRNJobTableCell::viewContextualGeneric() {
  auto* menu = new QMenu(QStringLiteral("Job Contextual"));
  menu->setObjectName(QStringLiteral("Job Contextual"));
  U_MenuItem(menu, "Show in Folder", "revealInFinderContextual", &ZRNJobTableCell::revealInFinderContextual);
  menu->addSeparator();
  U_MenuItem(menu, "Remove from List", "removeFromList", &ZRNJobTableCell::removeFromList);
  return menu;
}

QMenu* ZRNJobTableCell::viewContextualWhileRunning() {
  auto* menu = new QMenu(QStringLiteral("Job Contextual"));
  menu->setObjectName(QStringLiteral("Job Contextual"));
  U_MenuItem(menu, "Cancel Job", "cancelJobContextual", &ZRNJobTableCell::cancelJobContextual);
  return menu;
}

QMenu* ZRNJobTableCell::menuForEvent(QContextMenuEvent*) {
  return m_theJob && m_theJob->isFinished() ? viewContextualGeneric() : viewContextualWhileRunning();
}

void ZRNJobTableCell::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = menuForEvent(event);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
  event->accept();
}

void ZRNJobTableCell::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && m_tableController) {
    m_tableController->U_ClickedCell(this);
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}
