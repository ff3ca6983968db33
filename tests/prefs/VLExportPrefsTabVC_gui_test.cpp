#include "prefs/VLExportPrefsTabVC.h"

#include "prefs/PrefsTestSupport.h"
#include "support/AccessibilitySupport.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ExportTab : public PrefsWindowFixture {
 protected:
  VLExportPrefsTabVC* open() {
    UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("ExportPrefsPane"));
    ZRNPrefsController* controller = openWindow();
    EXPECT_EQ(controller->currentModule()->identifier(), "ExportPrefsPane");
    return controller->exportTab();
  }
  // As the user types: the field's text replaced, then Return.
  static void type(QLineEdit* field, const QString& text) {
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
  }
};

}  // namespace

TEST_F(ExportTab, ShowsTheStoredValuesWhenItOpens) {
  prefs->setMomentSecsBefore(7);
  prefs->setMomentSecsAfter(12);
  prefs->setSegmentKBPS(9000);
  VLExportPrefsTabVC* tab = open();
  EXPECT_EQ(tab->secsBefore()->text(), "7");
  EXPECT_EQ(tab->secsDuration()->text(), "12");
  EXPECT_EQ(tab->kbpsField()->text(), "9000");
  EXPECT_TRUE(tab->kbpsField()->isEnabled());
  for (QLineEdit* field : {tab->secsBefore(), tab->secsDuration(), tab->kbpsField()})
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name).isEmpty());
}

// Each field is read by its caption, which labels it, and by the value it shows, also once an edit has
// corrected it; the description says what it holds in words of its own.
TEST_F(ExportTab, EveryFieldIsReadByItsCaptionAndItsValue) {
  prefs->setMomentSecsBefore(7);
  prefs->setMomentSecsAfter(12);
  prefs->setSegmentKBPS(9000);
  VLExportPrefsTabVC* tab = open();
  const struct {
    QLineEdit* field;
    const char* typed;  // nothing: as the tab opens
    const char* shows;
  } rows[] = {{tab->secsBefore(), nullptr, "7"},  {tab->secsDuration(), nullptr, "12"}, {tab->kbpsField(), nullptr, "9000"},
              {tab->secsBefore(), "-5", "0"},     {tab->secsDuration(), "0", "1"},      {tab->kbpsField(), "100", "256"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.field->objectName().toStdString() + " " + (row.typed ? row.typed : "opened"));
    if (row.typed) type(row.field, row.typed);
    EXPECT_EQ(Test_NamesApartFromScreen(tab).join("; ").toStdString(), "");
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(row.field);
    EXPECT_EQ(item->text(QAccessible::Value), row.shows);
    EXPECT_FALSE(item->text(QAccessible::Description).isEmpty());
    EXPECT_NE(item->text(QAccessible::Description), item->text(QAccessible::Name));
  }
}

TEST_F(ExportTab, CorrectsEachValueWhenItsEditingEnds) {
  VLExportPrefsTabVC* tab = open();
  struct Row {
    const char* name;
    qint64 before;       // seconds before, stored first
    qint64 after;        // seconds after, stored first
    QLineEdit* field;
    QString typed;
    qint64 result;
  };
  const Row rows[] = {
      {"negative before", 3, 20, tab->secsBefore(), "-5", 0},
      {"before kept", 3, 20, tab->secsBefore(), "15", 15},
      {"not a number", 3, 20, tab->secsBefore(), "soon", 0},
      {"leading digits", 3, 20, tab->secsBefore(), "12s", 12},
      {"after below before", 10, 20, tab->secsDuration(), "4", 10},
      {"negative after: the value before editing", 10, 20, tab->secsDuration(), "-3", 20},
      {"negative after, then below before", 10, 5, tab->secsDuration(), "-3", 10},
      {"zero after", 0, 20, tab->secsDuration(), "0", 1},
      {"one after", 0, 20, tab->secsDuration(), "1", 1},
      {"two after", 0, 20, tab->secsDuration(), "2", 2},
      {"low bit rate", 0, 20, tab->kbpsField(), "100", 256},
      {"256 kbit/s", 0, 20, tab->kbpsField(), "256", 256},
      {"257 kbit/s", 0, 20, tab->kbpsField(), "257", 257},
      {"absurd bit rate", 0, 20, tab->kbpsField(), "99999999999999999999999", 2097151},
      {"absurd duration", 0, 20, tab->secsDuration(), "99999999999999999999999", 2147483647},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    prefs->setMomentSecsBefore(row.before);
    prefs->setMomentSecsAfter(row.after);
    type(row.field, row.typed);
    EXPECT_EQ(row.field->text(), QString::number(row.result));
    const qint64 stored = row.field == tab->secsBefore()     ? prefs->momentSecsBefore()
                          : row.field == tab->secsDuration() ? prefs->momentSecsAfter()
                                                             : prefs->segmentKBPS();
    EXPECT_EQ(stored, row.result);
  }
  // The moment export reads the stored values.
  type(tab->secsBefore(), "4");
  type(tab->secsDuration(), "9");
  EXPECT_EQ(prefs->momentMillisBefore(), 4000);
  EXPECT_EQ(prefs->momentMillisAfter(), 9000);
}

TEST_F(ExportTab, IntegerReadingOfTypedText) {
  const std::pair<QString, qint64> rows[] = {{"", 0}, {"  42", 42}, {"+7", 7}, {"-0", 0}, {"3.9", 3}, {"x1", 0},
                                             {"-99999999999999999999", std::numeric_limits<qint64>::min()}};
  for (const auto& [text, value] : rows) EXPECT_EQ(Prefs_IntegerValue(text), value) << text.toStdString();
}
