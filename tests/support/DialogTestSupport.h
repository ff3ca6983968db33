#pragma once
// Answering modal dialogs from tests: a timer waits for the next modal dialog (one that is not the
// given one), lets the test look at it, then clicks the named button.

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Looks every few milliseconds for a modal widget other than `notThis` (with the button `buttonName`, when
// one is named); when one shows, runs `inspect` on it and clicks that button (an empty name clicks
// nothing). Gives up after ~10 s.
inline void Test_AnswerNextModal(const QString& buttonName, std::function<void(QWidget*)> inspect = {},
                                 QWidget* notThis = nullptr) {
  auto timer = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QPointer<QWidget> skip(notThis);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    // A modal without the button (a progress window shown on the way) is not the one to answer.
    const bool other = !modal || modal == skip.data() || !modal->isVisible() ||
                       (!buttonName.isEmpty() && !modal->findChild<QPushButton*>(buttonName));
    if (other && ++*tries < 2000) return;
    timer->stop();
    if (modal && modal != skip.data()) {
      if (inspect) inspect(modal);
      if (auto* button = modal->findChild<QPushButton*>(buttonName); button && !buttonName.isEmpty()) button->click();
    }
    // Last: the timer (and this handler with it) goes once control is back in the event loop.
    timer->deleteLater();
  });
  timer->start();
}

// The plain text of a rich-text label, its line breaks as newlines.
inline QString Test_LabelText(const QLabel* label) {
  QTextDocument document;
  document.setHtml(label->text());
  return document.toPlainText().replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
}

// The plain text of every label of a dialog or window, run together.
inline QString Test_LabelsText(QWidget* widget) {
  QString all;
  for (auto* label : widget->findChildren<QLabel*>()) {
    QTextDocument text;
    text.setHtml(label->text());
    all += text.toPlainText();
  }
  return all;
}
