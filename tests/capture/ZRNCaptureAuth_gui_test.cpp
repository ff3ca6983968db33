#include "capture/ZRNCaptureAuth.h"
#include "support/TestSupport.h"
#include "support/DialogTestSupport.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QTextDocument>
#include <QUrl>

#include <gtest/gtest.h>

namespace {
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void openUrl(const QUrl& url) { urls.append(url); }
};

// Catches opened file URLs and termination requests for the length of a test.
struct Outside {
  UrlCatcher catcher;
  int terminations = 0;
  Outside() {
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "openUrl");
    Auth_SetTerminateHandler([this] { ++terminations; });
  }
  ~Outside() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    Auth_SetTerminateHandler(nullptr);
  }
};
}  // namespace

// Granted runs the completion at once, restricted does nothing; denied shows the alert, and only its
// first button opens the help page and quits.
TEST(CaptureAccessRequest, EachStateAnswersItsOwnWay) {
  struct Case {
    int state;
    MediaType type;
    int alertID;
    const char* button;  // nullptr: no alert
    const char* mainText;
    const char* fragment;  // nullptr: nothing opened
    int completions;
  };
  const Case cases[] = {
      {kCaptureAccessGranted, MediaType::Video, 20015, nullptr, nullptr, nullptr, 1},
      {kCaptureAccessRestricted, MediaType::Video, 20015, nullptr, nullptr, nullptr, 0},
      {kCaptureAccessDenied, MediaType::Video, 20015, "cancelBtn", "To start a new Live session", nullptr, 0},
      {kCaptureAccessDenied, MediaType::Video, 20015, "okBtn", "To start a new Live session", "camera", 0},
      {kCaptureAccessDenied, MediaType::Video, 20017, "okBtn", "To setup a video source", "camera", 0},
      {kCaptureAccessDenied, MediaType::Audio, 20018, "okBtn", "To setup an audio source", "microphone", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.state << " " << c.alertID);
    Outside outside;
    int completions = 0;
    QString shown;
    if (c.button) {
      Test_AnswerNextModal(QString::fromLatin1(c.button), [&](QWidget* modal) {
        QTextDocument text;
        text.setHtml(modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))->text());
        shown = text.toPlainText();
      });
    }
    Auth_HandleCaptureAccessState(c.state, c.type, c.alertID, [&] { ++completions; });
    if (c.mainText) {
      EXPECT_TRUE(shown.startsWith(QString::fromLatin1(c.mainText))) << shown.toStdString();
    }
    EXPECT_EQ(completions, c.completions);
    if (!c.fragment) {
      EXPECT_TRUE(outside.catcher.urls.isEmpty());
      EXPECT_EQ(outside.terminations, 0);
      continue;
    }
    ASSERT_EQ(outside.catcher.urls.size(), 1);
    const QUrl url = outside.catcher.urls.first();
    EXPECT_EQ(url.fragment(), QString::fromLatin1(c.fragment));
    QFile page(url.toLocalFile());
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << url.toString().toStdString();
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(QLatin1String(c.fragment))));
    EXPECT_TRUE(html.contains(c.type == MediaType::Video ? QStringLiteral("usermod -aG video")
                                                         : QStringLiteral("usermod -aG audio")));
    EXPECT_EQ(outside.terminations, 1);
  }
}

#include "ZRNCaptureAuth_gui_test.moc"
