#include "playback/ZRNJobTableCell.h"

#include "ui_ZRNJobCell.h"

#include "common/ZRNDrawnViews.h"
#include "composition/VL_ExportJobRecord.h"
#include "playback/JobsTableView_Controller.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QResizeEvent>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

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

// The text broken into lines that each fit `width` as drawn in `font`: between words where it can,
// inside a word (a long path) where it must.
QStringList U_WrappedLines(const QString& text, const QFont& font, int width) {
  const QFontMetrics metrics(font);
  if (width <= 0 || metrics.horizontalAdvance(text) <= width) return {text};
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  // The layout measures in fractions of a pixel, the label draws whole ones: a line that would still
  // overrun is broken again a pixel narrower.
  for (int lineWidth = width; lineWidth > width / 2; --lineWidth) {
    QTextLayout layout(text, font);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(lineWidth);
      lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (std::all_of(lines.cbegin(), lines.cend(), [&](const QString& l) { return metrics.horizontalAdvance(l) <= width; }))
      return lines;
  }
  return {metrics.elidedText(text, Qt::ElideRight, width)};
}

}  // namespace

QString ZRNJobCell_AccessibleText(const ZRN_JobRecord& job) {
  QStringList parts{job.title().isEmpty() ? QStringLiteral("Export Job") : job.title(), job.descriptionString()};
  if (!job.isFinished()) {
    QString state = job.progressString();
    if (job.status() == kJobStatusExporting && job.totalSteps() > 0)
      state += QStringLiteral(" %1%").arg(qRound(100.0 * job.currentStep() / job.totalSteps()));
    parts << state;
  }
  parts << job.infoString();
  parts.removeAll(QString());
  return parts.join(QStringLiteral(", "));
}

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
  for (QLabel* line : {m_titleText, m_descriptionText, m_infoText, m_progressText}) line->installEventFilter(this);
  installEventFilter(this);

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
  U_SetLine(m_titleText, m_theJob ? m_theJob->title() : QString(), job ? job->titleTipString() : QString());
  U_SetLine(m_descriptionText, m_theJob ? m_theJob->descriptionString() : QString(),
            m_theJob ? m_theJob->descriptionTipString() : QString());
  U_SetLine(m_infoText, m_theJob ? m_theJob->infoString() : QString(), QString());
  setAccessibleName(m_theJob ? ZRNJobCell_AccessibleText(*m_theJob) : QStringLiteral("Export Job"));
}

void ZRNJobTableCell::setStatusText(const QString& text) {
  // The state of a job is never cut: the date beside it gives way.
  m_progressText->setMinimumWidth(m_progressText->fontMetrics().horizontalAdvance(text));
  U_SetLine(m_progressText, text, QString());
}

QString ZRNJobTableCell::wholeText(const QLabel* line) const { return m_lines.value(line).text; }

void ZRNJobTableCell::U_SetLine(QLabel* line, const QString& text, const QString& tip) {
  Line& stored = m_lines[line];
  if (stored.text == text && stored.tip == tip && !line->text().isNull()) return;
  stored = Line{text, tip};
  U_FitLine(line);
}

bool ZRNJobTableCell::U_WrapsDescription() const {
  auto* job = qobject_cast<VL_ExportJobRecord*>(m_theJob.data());
  return job && job->exportFailed();
}

void ZRNJobTableCell::U_FitLine(QLabel* line, int width) {
  const auto found = m_lines.constFind(line);
  if (found == m_lines.cend()) return;
  const Line& whole = *found;
  if (width < 0) width = line->contentsRect().width();
  const bool wraps = line == m_descriptionText && U_WrapsDescription();
  // The status is as wide as its text (setStatusText): it is shown whole even before the row's layout
  // has caught up with a new status.
  const QString shown = line == m_progressText ? whole.text
                        : wraps ? U_WrappedLines(whole.text, line->font(), width).join(QLatin1Char('\n'))
                                : line->fontMetrics().elidedText(whole.text, Qt::ElideRight, width);
  if (line->text() != shown || line->text().isNull()) {
    const qsizetype linesBefore = line->text().count(QLatin1Char('\n'));
    line->setText(shown.isNull() ? QStringLiteral("") : shown);
    // Lines fitted while the row's layout places them would leave it placing the old number of lines
    // (its request to lay out again is spent by the round that is running): it is asked again after it.
    if (shown.count(QLatin1Char('\n')) != linesBefore)
      QTimer::singleShot(0, this, [this] {
        if (QLayout* rows = m_backgroundView->layout()) rows->invalidate();
      });
  }
  // A line that is cut or broken, and a failure's reason, are told whole in the tool tip, above the tip
  // the job gives for the line.
  QString tip = whole.tip;
  if ((shown != whole.text || wraps) && !whole.text.isEmpty() && !tip.contains(whole.text))
    tip = tip.isEmpty() ? whole.text : whole.text + QLatin1Char('\n') + tip;
  line->setToolTip(tip);
  line->setAccessibleDescription(whole.text);
}

int ZRNJobTableCell::U_TextColumnWidth(int rowWidth) const {
  const QMargins cellMargins = layout()->contentsMargins();
  auto* grid = qobject_cast<QGridLayout*>(m_backgroundView->layout());
  const QMargins textMargins = grid->contentsMargins();
  const int buttons = std::max(m_abortBtn->sizeHint().width(), m_revealBtn->sizeHint().width());
  return rowWidth - cellMargins.left() - cellMargins.right() - textMargins.left() - textMargins.right() -
         m_typeBadge->minimumWidth() - buttons - 2 * grid->horizontalSpacing();
}

int ZRNJobTableCell::rowHeightForWidth(int rowWidth) const {
  const int rowHeight = JobsTableView_Controller::kRowHeight;
  if (!U_WrapsDescription()) return rowHeight;
  const qsizetype lines =
      U_WrappedLines(wholeText(m_descriptionText), m_descriptionText->font(), U_TextColumnWidth(rowWidth)).size();
  return rowHeight + static_cast<int>(lines - 1) * m_descriptionText->fontMetrics().lineSpacing();
}

bool ZRNJobTableCell::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    if (watched == this) {
      // A wrapped description is fitted to the row's new width before the row's layout places its
      // lines, so that it places them for the new number of lines at once.
      if (U_WrapsDescription())
        U_FitLine(m_descriptionText, U_TextColumnWidth(static_cast<QResizeEvent*>(event)->size().width()));
    } else if (auto* line = qobject_cast<QLabel*>(watched)) {
      U_FitLine(line);
    }
  }
  return QWidget::eventFilter(watched, event);
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
