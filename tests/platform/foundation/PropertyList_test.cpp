#include "platform/foundation/PropertyList.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {
QVariantMap sampleTree() {
  return {
      {QStringLiteral("string"), QStringLiteral("Müller – 1:0 ⚽")},
      {QStringLiteral("empty"), QString(QStringLiteral(""))},
      {QStringLiteral("yes"), true},
      {QStringLiteral("no"), false},
      {QStringLiteral("zero"), qint64(0)},
      {QStringLiteral("negative"), qint64(-1)},
      {QStringLiteral("large"), qint64(5000000000LL)},
      {QStringLiteral("mostNegative"), qint64(-9000000000000000000LL)},
      {QStringLiteral("real"), 2.9996},
      // XML dates carry whole seconds.
      {QStringLiteral("date"), QDateTime(QDate(2026, 12, 6), QTime(17, 5, 9), QTimeZone::utc())},
      {QStringLiteral("oldDate"), QDateTime(QDate(1999, 3, 1), QTime(8, 0, 1), QTimeZone::utc())},
      {QStringLiteral("data"), QByteArray("\x00\x01\xff binary", 10)},
      {QStringLiteral("list"), QVariantList{qint64(1), QStringLiteral("two"), QVariantList{}, QVariantMap{}}},
      {QStringLiteral("nested"), QVariantMap{{QStringLiteral("inner"), QVariantMap{{QStringLiteral("k"), 1.5}}}}},
  };
}
}  // namespace

TEST(PropertyList, RoundTripsEveryValueTypeInBothFormats) {
  const QVariantMap tree = sampleTree();
  for (PropertyListFormat format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
    SCOPED_TRACE(format == PropertyListFormat::XML ? "XML" : "binary");
    const QByteArray bytes = PropertyList_Serialize(tree, format);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_EQ(bytes.startsWith("bplist"), format == PropertyListFormat::Binary);
    const QVariantMap back = PropertyList_Deserialize(bytes).toMap();
    ASSERT_EQ(back.keys(), tree.keys());
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
      const QVariant& got = back.value(it.key());
      if (it.value().typeId() == QMetaType::QDateTime)
        EXPECT_EQ(got.toDateTime().toMSecsSinceEpoch(), it.value().toDateTime().toMSecsSinceEpoch()) << it.key().toStdString();
      else
        EXPECT_EQ(got, it.value()) << it.key().toStdString();
    }
  }
}

TEST(PropertyList, BinaryDatesKeepMillisecondsBeforeAndAfter2001) {
  for (const QDateTime& date : {QDateTime(QDate(2026, 12, 6), QTime(17, 5, 9, 42), QTimeZone::utc()),
                                QDateTime(QDate(1999, 3, 1), QTime(8, 0, 0, 500), QTimeZone::utc()),
                                QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0, 1), QTimeZone::utc()),
                                QDateTime(QDate(2001, 1, 1), QTime(0, 0, 5, 999), QTimeZone::utc())}) {
    const QVariantMap tree{{QStringLiteral("d"), date}};
    EXPECT_EQ(PropertyList_Deserialize(PropertyList_Serialize(tree, PropertyListFormat::Binary)).toMap(), tree)
        << date.toString(Qt::ISODateWithMs).toStdString();
  }
}

TEST(PropertyList, NullMembersAreLeftOutAndDamagedInputGivesNoValue) {
  const QVariantMap tree{{QStringLiteral("kept"), 1}, {QStringLiteral("null"), QVariant()}};
  const QVariantMap back = PropertyList_Deserialize(PropertyList_Serialize(tree, PropertyListFormat::XML)).toMap();
  EXPECT_EQ(back.keys(), QStringList{QStringLiteral("kept")});
  EXPECT_TRUE(PropertyList_Serialize(QVariant(), PropertyListFormat::XML).isEmpty());
  const QByteArray inputs[] = {QByteArray(), QByteArray("not a plist"), QByteArray("bplist00\x01\x02", 10),
                               QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key>")};
  for (const QByteArray& input : inputs) EXPECT_FALSE(PropertyList_Deserialize(input).isValid()) << input.toStdString();
}

TEST(PropertyList, FilesAreWrittenWholeAndReadBack) {
  const QString path = Test_MakeTempDir(QStringLiteral("plist")) + QStringLiteral("/settings.plist");
  QString error;
  EXPECT_FALSE(PropertyList_ReadFile(path, &error).isValid());
  EXPECT_FALSE(error.isEmpty());
  ASSERT_TRUE(PropertyList_WriteFile(path, sampleTree(), PropertyListFormat::XML, &error)) << error.toStdString();
  ASSERT_TRUE(PropertyList_WriteFile(path, QVariantMap{{QStringLiteral("v"), 2}}, PropertyListFormat::Binary, &error));
  EXPECT_EQ(PropertyList_ReadFile(path).toMap(), (QVariantMap{{QStringLiteral("v"), qint64(2)}}));
  EXPECT_FALSE(PropertyList_WriteFile(path + QStringLiteral(".missing/x.plist"), QVariantMap{}, PropertyListFormat::XML, &error));
}

namespace {
// A binary property list of `levels` arrays, each holding the next (the innermost is empty), written by hand
// so that any depth can be made: 4-byte offsets and references.
QByteArray nestedBinaryArrays(int levels) {
  QByteArray data("bplist00");
  QList<quint32> offsets;
  auto put = [&](quint64 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) data.append(char((value >> (8 * i)) & 0xff));
  };
  for (int i = 0; i < levels; ++i) {
    offsets << quint32(data.size());
    data.append(char(0xA1));
    put(quint64(i + 1), 4);
  }
  offsets << quint32(data.size());
  data.append(char(0xA0));
  const quint64 table = quint64(data.size());
  for (quint32 offset : offsets) put(offset, 4);
  data.append(QByteArray(6, '\0'));
  data.append(char(4));
  data.append(char(4));
  put(quint64(offsets.size()), 8);
  put(0, 8);
  put(table, 8);
  return data;
}

// The same in XML.
QByteArray nestedXmlArrays(int levels) {
  return QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\">") + QByteArray("<array>").repeated(levels + 1) +
         QByteArray("</array>").repeated(levels + 1) + QByteArray("</plist>");
}
}  // namespace

TEST(PropertyList, DeeplyNestedInputIsRefusedInsteadOfExhaustingTheStack) {
  // A hundred thousand levels in half a megabyte crash a recursive reader; they give no value instead.
  EXPECT_FALSE(PropertyList_Deserialize(nestedBinaryArrays(100000)).isValid());
  EXPECT_FALSE(PropertyList_Deserialize(nestedXmlArrays(100000)).isValid());
  // A reference back to an enclosing array is no tree.
  QByteArray cycle = nestedBinaryArrays(3);
  cycle[8 + 2 * 5 + 4] = 0;  // the third array holds the first instead of the fourth
  EXPECT_FALSE(PropertyList_Deserialize(cycle).isValid());
  // Ordinary nesting reads as before, in both formats.
  for (const QByteArray& data : {nestedBinaryArrays(40), nestedXmlArrays(40)}) {
    QVariant value = PropertyList_Deserialize(data);
    int depth = 0;
    while (value.typeId() == QMetaType::QVariantList && !value.toList().isEmpty()) {
      value = value.toList().first();
      ++depth;
    }
    EXPECT_EQ(depth, 40);
  }
}
