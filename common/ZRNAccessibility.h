#pragma once
// What a screen reader is told about widgets whose Qt defaults say too little: a role other than the one
// of the widget's class (a popup panel that is a dialog to the listener), and labels whose text is a value
// that keeps changing (a play time), read as their text and description and announced as they change,
// at most once a second so that a playing movie does not drown the speech.

#include <QAccessible>

class QAbstractButton;
class QLabel;
class QTextEdit;
class QWidget;

// The role the widget is exposed with. Call before anything asks for the widget's accessible interface
// (at construction): an interface once made is kept.
void ZRNAccessible_SetRole(QWidget* widget, QAccessible::Role role);
// A checkable button exposed as a push button that is pressed (and checked) while it is checked, as a
// tool bar's buttons that choose one of several pages: Qt's own reading, a check box, would tell a
// listener that choosing a page is ticking an option.
void ZRNAccessible_SetToggleButton(QAbstractButton* button);

// A button laid over a label that shows nothing of its own (a time that a click switches) is named by
// the label's text as it is when a screen reader asks: its name follows every change of the text without
// an event at each one (the label announces those). Tell a change of what the text says with
// ZRNAccessible_NameChanged.
void ZRNAccessible_NameByLabel(QAbstractButton* button, QLabel* label);
// The name that the widget takes from elsewhere now says something else: a screen reader asks again.
void ZRNAccessible_NameChanged(QWidget* widget);

// A widget that only draws (a background, a frame around other controls) takes no focus and is left out
// of the accessibility tree: its parent, which must have been given a role with ZRNAccessible_SetRole,
// does not list it among its children.
void ZRNAccessible_SetDecorative(QWidget* widget);
// Whether the widget was left out of the tree with ZRNAccessible_SetDecorative.
bool ZRNAccessible_IsDecorative(const QWidget* widget);

// The popup panel that the button opens is read as a dialog, a child of the button: Qt leaves popup
// windows out of the application's tree, so a listener could not reach it otherwise.
void ZRNAccessible_SetPopover(QAbstractButton* anchor, QWidget* popover);

// The read-only rich text (an information popover's) is read as its plain text, without the marks of its
// tables and frames that Qt's own reading would spell out.
void ZRNAccessible_ExposePlainText(QTextEdit* text);

// The label's text is exposed as its text and description, its accessible name stays what it is.
void ZRNAccessible_ExposeTextAsValue(QLabel* label);
// The label's text was set: announced now, or when a second has passed since the last announcement
// (only the latest text is announced then).
void ZRNAccessible_ValueTextChanged(QLabel* label);

// A notice the user must hear (a line above a window's content that says what went wrong): exposed as
// above, and announced, with an alert besides, when it comes on screen and when its text changes while
// it shows; a notice set while it does not show waits until it does. Tell its changes with
// ZRNAccessible_ValueTextChanged.
void ZRNAccessible_ExposeTextAsNotice(QLabel* label);

// The label's property that holds the text last announced.
inline constexpr const char* kZRNAccessibleAnnouncedProperty = "ZRNAccessibleAnnouncedText";

// Shortest time between two announcements of one label's text, in milliseconds.
inline constexpr int kZRNAccessibleAnnounceIntervalMillis = 1000;
