#include "playback/ZRNJobTableCell.h"

#include "common/ZRNDrawnViews.h"
#include "composition/VL_ExportJobRecord.h"
#include "playback/JobsTableView_Controller.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QString U_MenuTitle(const char* text) { return QCoreApplication::translate("MenuItems", text); }

QLabel* U_TextField(QWidget* parent, const char* name, const char* accessibleName) {
  auto* field = new QLabel(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setAccessibleName(QString::fromLatin1(accessibleName));
  field->setTextFormat(Qt::PlainText);
  field->setTextInteractionFlags(Qt::NoTextInteraction);
  // Long names are cut, not wrapped: the row keeps its height.
  field->setMinimumWidth(10);
  field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  QPalette palette = field->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  field->setPalette(palette);
  return field;
}

QToolButton* U_ImageButton(QWidget* parent, const char* name, const char* accessibleName) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAccessibleName(QString::fromLatin1(accessibleName));
  button->setAutoRaise(true);
  button->setIconSize(QSize(16, 16));
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

ZRNJobTableCell::ZRNJobTableCell(QWidget* parent) : QWidget(parent) {
  setObjectName(QString::fromLatin1(kZRNJobCellIdentifier));
  setAccessibleName(QStringLiteral("Export Job"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(2, 1, 2, 1);
  m_backgroundView = new ZRNRoundedView(this);
  m_backgroundView->setObjectName(QStringLiteral("backgroundView"));
  m_backgroundView->setAccessibleName(QStringLiteral("backgroundView"));
  outer->addWidget(m_backgroundView);

  auto* grid = new QGridLayout(m_backgroundView);
  grid->setContentsMargins(6, 3, 4, 3);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(0);
  m_imageView = new QLabel(m_backgroundView);
  m_imageView->setObjectName(QStringLiteral("imageView"));
  m_imageView->setAccessibleName(QStringLiteral("imageView"));
  m_imageView->hide();
  m_typeBadge = new ZRNTypeBadgeView(m_backgroundView);
  m_typeBadge->setObjectName(QStringLiteral("typeBadge"));
  m_typeBadge->setAccessibleName(QStringLiteral("typeBadge"));
  m_typeBadge->setFixedSize(34, 16);
  grid->addWidget(m_typeBadge, 0, 0, Qt::AlignTop);

  m_titleText = U_TextField(m_backgroundView, "titleText", "Title");
  QFont bold = m_titleText->font();
  bold.setBold(true);
  m_titleText->setFont(bold);
  m_descriptionText = U_TextField(m_backgroundView, "descriptionText", "Description");
  m_infoText = U_TextField(m_backgroundView, "infoText", "Date");
  m_jobProgress = new QProgressBar(m_backgroundView);
  m_jobProgress->setObjectName(QStringLiteral("jobProgress"));
  m_jobProgress->setAccessibleName(QStringLiteral("Progress"));
  m_jobProgress->setTextVisible(false);
  m_jobProgress->setFixedHeight(8);
  m_progressText = U_TextField(m_backgroundView, "progressText", "Status");
  auto* texts = new QVBoxLayout;
  texts->setSpacing(0);
  texts->addWidget(m_titleText);
  texts->addWidget(m_descriptionText);
  texts->addWidget(m_infoText);
  texts->addWidget(m_jobProgress);
  texts->addWidget(m_progressText);
  grid->addLayout(texts, 0, 1);
  grid->setColumnStretch(1, 1);

  m_abortBtn = U_ImageButton(m_backgroundView, "abortBtn", "Cancel Job");
  m_revealBtn = U_ImageButton(m_backgroundView, "revealBtn", "Reveal in Finder");
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_abortBtn);
  buttons->addWidget(m_revealBtn);
  buttons->addStretch(1);
  grid->addLayout(buttons, 0, 2);

  connect(m_abortBtn, &QToolButton::clicked, this, [this] {
    if (m_tableController) m_tableController->cancelJob(m_abortBtn);
  });
  connect(m_revealBtn, &QToolButton::clicked, this, [this] {
    if (m_tableController) m_tableController->revealResultsInFinder(m_revealBtn);
  });
  awakeFromNib();
}

ZRNJobTableCell::~ZRNJobTableCell() = default;

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
  U_MenuItem(menu, "Reveal in Finder", "revealInFinderContextual", &ZRNJobTableCell::revealInFinderContextual);
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
