#pragma once
// A centred light-grey message laid over a table while it has no rows; the table shows no grid then,
// and dashed horizontal lines between rows otherwise. The view-controller form is the base of panes
// that own a table (the export jobs); the object form serves owners that are not panes.

#include "common/ZRNBaseClasses.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTableView>

class ZRNEmptyTableMessageProtocol {
 public:
  virtual ~ZRNEmptyTableMessageProtocol() = default;
  virtual QString emptyDataString() const = 0;
  virtual void setupForEmptyTable(bool empty) = 0;
  virtual QTableView* theDataView() const = 0;
  virtual void setTheDataView(QTableView* table) = 0;
};

// The grid of a table: none (0), or dashed horizontal lines between rows (8).
enum ZRNTableGridStyle : int {
  kZRNTableGridNone = 0,
  kZRNTableGridDashedHorizontal = 8,
};
int ZRN_TableGridStyleMask(const QTableView* table);

// What both forms keep and do; `placement` keeps the note over the table when the table is resized.
class ZRNEmptyTableNoteState : public QObject {
  Q_OBJECT
 public:
  enum class Placement { CentredInset24, CentredInset2, FillFrame };

  QPointer<QTableView> theDataView;
  bool hasAutoLayout = false;
  float fontSize = 16;
  QPointer<QLabel> emptyTableTextV;
  Placement placement = Placement::CentredInset24;

  // Builds the note once (hidden) with this text.
  void setUp(const QString& text);
  // Shows or hides the note (when built) and sets the table's grid.
  void show(bool empty);
  void place();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

class ZRNEmptyTableNoteVC : public ZRN_CommonInitViewC, public ZRNEmptyTableMessageProtocol {
  Q_OBJECT
 public:
  explicit ZRNEmptyTableNoteVC(QWidget* parent = nullptr);
  ~ZRNEmptyTableNoteVC() override;

  QString emptyDataString() const override { return QStringLiteral("No Data"); }
  // Builds the note; until it is called the note does not exist and only the grid changes.
  void U_SetupEmptyTableView();
  void setupForEmptyTable(bool empty) override;
  QTableView* theDataView() const override { return m_note.theDataView; }
  void setTheDataView(QTableView* table) override { m_note.theDataView = table; }
  bool hasAutoLayout() const { return m_note.hasAutoLayout; }
  void setHasAutoLayout(bool value) { m_note.hasAutoLayout = value; }
  float fontSize() const { return m_note.fontSize; }
  void setFontSize(float size) { m_note.fontSize = size; }
  QLabel* emptyTableTextV() const { return m_note.emptyTableTextV; }

 private:
  ZRNEmptyTableNoteState m_note;
};

class ZRNEmptyTableNoteObj : public QObject, public ZRNEmptyTableMessageProtocol {
  Q_OBJECT
 public:
  explicit ZRNEmptyTableNoteObj(QObject* parent = nullptr);
  ~ZRNEmptyTableNoteObj() override;

  QString emptyDataString() const override { return QStringLiteral("No Data"); }
  void U_SetupEmptyTableView();
  // Builds the note first when it does not exist.
  void setupForEmptyTable(bool empty) override;
  QTableView* theDataView() const override { return m_note.theDataView; }
  void setTheDataView(QTableView* table) override { m_note.theDataView = table; }
  bool hasAutoLayout() const { return m_note.hasAutoLayout; }
  void setHasAutoLayout(bool value) { m_note.hasAutoLayout = value; }
  float fontSize() const { return m_note.fontSize; }
  void setFontSize(float size) { m_note.fontSize = size; }
  QLabel* emptyTableTextV() const { return m_note.emptyTableTextV; }

 private:
  ZRNEmptyTableNoteState m_note;
};
