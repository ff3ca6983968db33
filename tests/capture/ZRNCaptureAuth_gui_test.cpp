#include "capture/ZRNCaptureAuth.h"
#include "support/TestSupport.h"
#include "tests/app/DialogTestSupport.h"

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

TEST(CaptureAccessRequest, GrantedRunsTheCompletionAtOnceAndRestrictedDoesNothing) {
  Outside outside;
  int completions = 0;
  Auth_HandleCaptureAccessState(kCaptureAccessGranted, MediaType::Video, 20015, [&] { ++completions; });
  EXPECT_EQ(completions, 1);
  Auth_HandleCaptureAccessState(kCaptureAccessRestricted, MediaType::Video, 20015, [&] { ++completions; });
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(outside.catcher.urls.isEmpty());
  EXPECT_EQ(outside.terminations, 0);
}

TEST(CaptureAccessRequest, DeniedShowsTheAlertAndOnlyItsFirstButtonOpensHelpAndQuits) {
  struct Case {
    MediaType type;
    int alertID;
    const char* button;
    const char* mainText;
    const char* fragment;  // nullptr: nothing opened
  };
  const Case cases[] = {
      {MediaType::Video, 20015, "cancelBtn", "To start a new Live session", nullptr},
      {MediaType::Video, 20015, "okBtn", "To start a new Live session", "camera"},
      {MediaType::Video, 20017, "okBtn", "To setup a video source", "camera"},
      {MediaType::Audio, 20018, "okBtn", "To setup an audio source", "microphone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alertID);
    Outside outside;
    int completions = 0;
    QString shown;
    Test_AnswerNextModal(QString::fromLatin1(c.button), [&](QWidget* modal) {
      QTextDocument text;
      text.setHtml(modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))->text());
      shown = text.toPlainText();
    });
    Auth_HandleCaptureAccessState(kCaptureAccessDenied, c.type, c.alertID, [&] { ++completions; });
    EXPECT_TRUE(shown.startsWith(QString::fromLatin1(c.mainText))) << shown.toStdString();
    EXPECT_EQ(completions, 0);
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
