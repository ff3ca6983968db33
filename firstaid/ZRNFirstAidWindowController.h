#pragma once
// The First Aid window (layout "ZRNFirstAidWindow"): three actions as radio buttons (0 reset the
// preferences and relaunch, 1 save the logs, 2 prepare an e-mail with the user's own description), OK
// (its title names the action) and Cancel. After a crash it is 442 high with the heading "App quit
// unexpectedly" and preselects the e-mail when the mail program takes attachments, else saving the logs;
// opened on request it is 412 high without heading and preselects the reset. A reset is confirmed by
// alert 20011 first. Dark look whatever the desktop's theme.

#include "common/ZRNBaseDialogWindowController.h"

#include <QCheckBox>
#include <QPointer>
#include <QRadioButton>
#include <QTextEdit>

inline constexpr int kFirstAid_HeightAfterCrash = 442;
inline constexpr int kFirstAid_HeightOnRequest = 412;

class ZRNFirstAidWindowController : public ZRNBaseDialogWindowController {
  Q_OBJECT
 public:
  explicit ZRNFirstAidWindowController(QWidget* parent = nullptr);
  ~ZRNFirstAidWindowController() override;

  void setBombed(bool afterCrash);
  QString textToAdd() const;
  bool cleanUpLogs() const;
  bool expanded() const { return m_expanded; }
  void setExpanded(bool expanded);
  bool clearLogsFlag() const { return m_clearLogsFlag; }
  void setClearLogsFlag(bool flag) { m_clearLogsFlag = flag; }
  int selectedAction() const { return m_selectedAction; }
  void setSelectedAction(int action) { m_selectedAction = action; }
  // The distance above the button row.
  int buttonsTopDistance() const;

  QRadioButton* resetSettingsBtn() const { return m_resetSettingsBtn; }
  QRadioButton* saveLogsBtn() const { return m_saveLogsBtn; }
  QRadioButton* prepareEmailBtn() const { return m_prepareEmailBtn; }
  QLabel* title() const { return m_title; }
  QLabel* resetExplain() const { return m_resetExplain; }
  QTextEdit* userText() const { return m_userText; }
  QCheckBox* clearLogsCheck() const { return m_clearLogsCheck; }
  QWidget* expandedView() const { return m_expandedView; }
  QWidget* enclosingView() const { return m_enclosingView; }

 public slots:
  void buttonPressed(QObject* sender);
  void okAction() override;

 protected:
  void windowDidLoad();

 private:
  void U_ClearAllRadioButtons();
  void U_TextViewSetupFor(bool email);
  void U_SetOKTitle(const QString& title);
  void U_SetButtonsTopDistance(int distance);
  void updateView() {}

  QPointer<QRadioButton> m_resetSettingsBtn;
  QPointer<QRadioButton> m_saveLogsBtn;
  QPointer<QRadioButton> m_prepareEmailBtn;
  QPointer<QLabel> m_title;
  QPointer<QLabel> m_resetExplain;
  QPointer<QTextEdit> m_userText;
  QPointer<QCheckBox> m_clearLogsCheck;
  QPointer<QWidget> m_buttonsTopDistance;
  QPointer<QWidget> m_expandedView;
  QPointer<QWidget> m_enclosingView;
  int m_selectedAction = 2;
  bool m_expanded = false;
  bool m_clearLogsFlag = false;
};

// What the user chose in the window.
struct FirstAidChoice {
  int result = kDialogResultCancel;  // -1000 OK, -1001 Cancel
  int action = 2;
  QString userText;
  bool cleanUp = false;
};

// Loads the window, sets it up for the case, runs it application-modal and closes it.
FirstAidChoice FirstAid_RunWindow(bool afterCrash);
