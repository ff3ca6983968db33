#include "common/ZRNJSONBridge.h"

#include "platform/foundation/SafeFile.h"

#include "support/ScopedTimeZone.h"

#include <QUuid>

#include <gtest/gtest.h>

#include <cmath>

namespace {
std::string Write(const QVariant& v) { return JSON_CFDataFromCF(v).toStdString(); }
}  // namespace

TEST(JSONBridge, WritesEachKindOfValue) {
  const struct {
    const char* name;
    QVariant value;
    const char* json;  // nullptr: no JSON form
  } cases[] = {
      {"true", QVariant(true), "true"},
      {"char 1 is a number, not true", QVariant::fromValue<char>(1), "1"},
      {"null", QVariant::fromValue(nullptr), "null"},
      {"unsigned", QVariant(4294967295u), "4294967295"},
      {"beyond 32 bits keeps its value", QVariant::fromValue<qint64>(4294967296000LL), "4294967296000"},
      {"2.0 keeps its point", QVariant(2.0), "2.0"},
      {"UTF-8 as is, slash plain", QVariant(QStringLiteral("Müller/Zoë")), "\"Müller/Zoë\""},
      {"quote and newline escaped", QVariant(QStringLiteral("a\"b\nc")), "\"a\\\"b\\nc\""},
      {"text ends at a NUL", QVariant(QString::fromUtf16(u"ab\0cd", 5)), "\"ab\""},
      {"top-level array", QVariant(QVariantList{1, QStringLiteral("a")}), "[\n    1,\n    \"a\"\n]"},
      {"invalid value", QVariant(), nullptr},
      {"NaN", QVariant(std::nan("")), nullptr},
      {"uuid as value", QVariant(QUuid::createUuid()), nullptr},
  };
  for (const auto& c : cases) {
    const QByteArray data = JSON_CFDataFromCF(c.value);
    if (!c.json) {
      EXPECT_TRUE(data.isNull()) << c.name << ": " << data.toStdString();
      continue;
    }
    EXPECT_EQ(data.toStdString(), c.json) << c.name;
  }
}

TEST(JSONBridge, IndentsByFourSpacesWithKeysByCharacterValue) {
  const QVariantMap dict{{QStringLiteral("b"), 1},
                         {QStringLiteral("a"), QVariantList{true, QVariant::fromValue(nullptr), QVariantMap{}}},
                         {QStringLiteral("B"), QStringLiteral("x")}};
  EXPECT_EQ(Write(dict),
            "{\n"
            "    \"B\": \"x\",\n"
            "    \"a\": [\n"
            "        true,\n"
            "        null,\n"
            "        {}\n"
            "    ],\n"
            "    \"b\": 1\n"
            "}");
}

TEST(JSONBridge, ValuesWithoutAJSONFormDropOnlyTheirMember) {
  const QVariantMap dict{{QStringLiteral("data"), QByteArray("x")},
                         {QStringLiteral("keep"), 1},
                         {QStringLiteral("missing"), QVariant()},
                         {QStringLiteral("list"), QVariantList{QByteArray("y"), 2, std::nan("")}}};
  const QVariantMap back = JSON_CFFromJSONData(JSON_CFDataFromCF(dict)).toMap();
  EXPECT_EQ(back.keys(), (QStringList{QStringLiteral("keep"), QStringLiteral("list")}));
  EXPECT_EQ(back.value(QStringLiteral("list")).toList(), QVariantList{QVariant::fromValue<qint64>(2)});
}

TEST(JSONBridge, ReadsEachKindOfValue) {
  const struct {
    const char* name;
    const char* json;
    QVariant value;
    int type;
  } cases[] = {
      {"beyond 32 bits", "4294967296000", QVariant::fromValue<qint64>(4294967296000LL), QMetaType::LongLong},
      {"null", "null", QVariant::fromValue(nullptr), QMetaType::Nullptr},
      {"plain string", "\"2020-01-02\"", QVariant(QStringLiteral("2020-01-02")), QMetaType::QString},
      {"top-level array", "[1, \"a\"]", QVariant(QVariantList{QVariant::fromValue<qint64>(1), QStringLiteral("a")}),
       QMetaType::QVariantList},
      {"duplicate member, last wins", "{\"a\": 1, \"a\": 2}", QVariant(QVariantMap{{QStringLiteral("a"), QVariant::fromValue<qint64>(2)}}),
       QMetaType::QVariantMap},
  };
  for (const auto& c : cases) {
    const QVariant v = JSON_CFFromJSONData(QByteArray(c.json));
    EXPECT_EQ(v.metaType().id(), c.type) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
}

TEST(JSONBridge, BadInputReadsAsNothing) {
  const QByteArray deep(100000, '[');
  const struct {
    const char* name;
    QByteArray data;
  } cases[] = {
      {"truncated", QByteArray("{\"tags\": [{\"tagTitle\": \"inP")},
      {"integer too big", QByteArray("99999999999999999999")},
      {"invalid UTF-8", QByteArray("\"\xff\xfe\"")},
      {"deeply nested", deep + QByteArray(100000, ']')},
  };
  for (const auto& c : cases) EXPECT_FALSE(JSON_CFFromJSONData(c.data).isValid()) << c.name;
}

TEST(JSONBridge, NestingIsLimitedAndAByteOrderMarkIsAccepted) {
  auto nested = [](int depth) {
    return QByteArray(depth, '[') + QByteArray("\"[{ in a string\"") + QByteArray(depth, ']');
  };
  EXPECT_TRUE(JSON_CFFromJSONData(nested(kSafeFile_MaxNesting)).isValid());
  EXPECT_FALSE(JSON_CFFromJSONData(nested(kSafeFile_MaxNesting + 1)).isValid());
  EXPECT_FALSE(JSON_CFFromJSONData("{\"a\": " + nested(600) + "}").isValid());
  // Written by an editor that marks its UTF-8.
  const QVariant marked = JSON_CFFromJSONData("\xEF\xBB\xBF{\"VLCaptureApp\": \"Velmora\"}");
  ASSERT_EQ(marked.typeId(), QMetaType::QVariantMap);
  EXPECT_EQ(marked.toMap().value(QStringLiteral("VLCaptureApp")).toString(), QStringLiteral("Velmora"));
  EXPECT_FALSE(JSON_CFFromJSONData("\xEF\xBB\xBF").isValid());
}

// U+FEFF at the start of a key or a string is a character of it, not a byte-order mark: "\ufefftags"
// is a member of its own beside "tags", and every text comes back as stored, written raw or escaped.
TEST(JSONBridge, KeysAndStringsKeepALeadingUFEFF) {
  const QString mark(QChar(0xFEFF));
  const QString texts[] = {QStringLiteral("tags"), mark + QStringLiteral("tags"), mark + mark + QStringLiteral("tags"),
                           QStringLiteral("ta") + mark + QStringLiteral("gs"), mark + mark};
  QVariantMap all;
  for (const QString& text : texts) {
    SCOPED_TRACE(text.toStdString());
    const QByteArray raw = '"' + text.toUtf8() + '"';
    const QByteArray escaped = '"' + QByteArray(text.toUtf8()).replace(mark.toUtf8(), "\\ufeff") + '"';
    for (const QByteArray& json : {raw, escaped})
      EXPECT_EQ(JSON_CFFromJSONData('{' + json + ": " + json + '}'), QVariant(QVariantMap{{text, text}}))
          << json.toStdString();
    EXPECT_EQ(JSON_CFDataFromCF(text), raw);
    all.insert(text, text);
  }
  // Read, write and read again: the same members, and the same bytes when written once more.
  const QByteArray written = JSON_CFDataFromCF(all);
  const QVariant back = JSON_CFFromJSONData(written);
  EXPECT_EQ(back, QVariant(all));
  EXPECT_EQ(JSON_CFDataFromCF(back), written);
}

TEST(JSONBridge, DatesAreWrittenInTheLocalZoneAndReadFromAnyOffset) {
  const ScopedTimeZone zone("XST-2");
  const QDateTime moment(QDate(2020, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);
  EXPECT_EQ(Write(moment), "\"2020-01-02T05:04:05.006+0200\"");
  const struct {
    const char* text;
    bool isDate;
  } cases[] = {
      {"2020-01-02T03:04:05.006+0000", true},
      {"2020-01-01T21:34:05.006-0530", true},
      {"2020-01-02T03:04:05.006Z", false},
      {"2020-02-30T03:04:05.006+0000", false},
      {"２０２０-01-02T03:04:05.006+0000", false},
  };
  for (const auto& c : cases) {
    const QByteArray json = QByteArray("\"") + c.text + "\"";
    const QVariant v = JSON_CFFromJSONData(json);
    EXPECT_EQ(v.metaType().id() == QMetaType::QDateTime, c.isDate) << c.text;
    if (c.isDate) {
      EXPECT_EQ(v.toDateTime(), moment) << c.text;
      // Written again, the same moment in the local zone.
      EXPECT_EQ(Write(v), "\"2020-01-02T05:04:05.006+0200\"") << c.text;
    } else {
      EXPECT_EQ(v.toString(), QString::fromUtf8(c.text));
    }
  }
}
