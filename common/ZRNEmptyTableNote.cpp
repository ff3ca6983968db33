#include "common/ZRNEmptyTableNote.h"

#include <QEvent>
#include <QFont>

int ZRN_TableGridStyleMask(const QTableView* table) {
  return table && table->showGrid() && table->gridStyle() == Qt::DashLine ? kZRNTableGridDashedHorizontal : kZRNTableGridNone;
}

void ZRNEmptyTableNoteState::setUp(const QString& text) {
  if (emptyTableTextV || !theDataView) return;
  auto* note = new QLabel(theDataView);
  note->setObjectName(QStringLiteral("emptyTableTextV"));
  note->setAccessibleName(text);
  note->setGeometry(0, 0, 0, 0);
  note->setAlignment(Qt::AlignCenter);
  note->setTextInteractionFlags(Qt::NoTextInteraction);
  note->setFrameShape(QFrame::Box);
  QFont font = note->font();
  font.setPointSizeF(fontSize);
  note->setFont(font);
  note->setAutoFillBackground(true);
  QPalette palette = note->palette();
  palette.setColor(QPalette::Window, Qt::cyan);
  // Light grey, as the system's light-grey colour.
  palette.setColor(QPalette::WindowText, QColor::fromRgbF(2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0));
  note->setPalette(palette);
  note->setText(text);
  note->raise();
  note->hide();
  emptyTableTextV = note;
  theDataView->installEventFilter(this);
  place();
}

void ZRNEmptyTableNoteState::place() {
  if (!emptyTableTextV || !theDataView) return;
  const QRect frame = theDataView->rect();
  const int height = emptyTableTextV->sizeHint().height();
  switch (placement) {
    case Placement::FillFrame:
      emptyTableTextV->setGeometry(frame);
      break;
    case Placement::CentredInset24:
    case Placement::CentredInset2: {
      const int width = frame.width() - (placement == Placement::CentredInset24 ? 24 : 2);
      emptyTableTextV->setGeometry(frame.center().x() - width / 2, frame.center().y() - height / 2, width, height);
      break;
    }
  }
}

void ZRNEmptyTableNoteState::show(bool empty) {
  if (emptyTableTextV) emptyTableTextV->setVisible(empty);
  if (!theDataView) return;
  theDataView->setShowGrid(!empty);
  theDataView->setGridStyle(Qt::DashLine);
}

bool ZRNEmptyTableNoteState::eventFilter(QObject* watched, QEvent* event) {
  // Only resizes are looked at, and only then is the table asked for: the filter also sees the events of
  // a table being destroyed, which is no longer a table by then.
  if (event->type() == QEvent::Resize && watched == static_cast<QObject*>(theDataView.data())) place();
  return QObject::eventFilter(watched, event);
}

ZRNEmptyTableNoteVC::ZRNEmptyTableNoteVC(QWidget* parent) : ZRN_CommonInitViewC(parent) {}

ZRNEmptyTableNoteVC::~ZRNEmptyTableNoteVC() { delete m_note.emptyTableTextV.data(); }

void ZRNEmptyTableNoteVC::U_SetupEmptyTableView() {
  m_note.placement = ZRNEmptyTableNoteState::Placement::CentredInset24;
  m_note.setUp(emptyDataString());
}

void ZRNEmptyTableNoteVC::setupForEmptyTable(bool empty) { m_note.show(empty); }

ZRNEmptyTableNoteObj::ZRNEmptyTableNoteObj(QObject* parent) : QObject(parent) {}

ZRNEmptyTableNoteObj::~ZRNEmptyTableNoteObj() { delete m_note.emptyTableTextV.data(); }

void ZRNEmptyTableNoteObj::U_SetupEmptyTableView() {
  m_note.placement = m_note.hasAutoLayout ? ZRNEmptyTableNoteState::Placement::CentredInset2
                                          : ZRNEmptyTableNoteState::Placement::FillFrame;
  m_note.setUp(emptyDataString());
}

void ZRNEmptyTableNoteObj::setupForEmptyTable(bool empty) {
  U_SetupEmptyTableView();
  m_note.show(empty);
}
