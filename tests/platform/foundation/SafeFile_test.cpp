// What a full disk, a symbolic link, an unreadable file and a hostile nesting do to the files of
// preferences and property lists: the old file stays whole, and nothing crashes.

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FileFaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

namespace {
QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}
// About 8 KB as XML: more than the limit below, and less than Qt's write buffer, so that every byte of it
// used to wait for the last moment.
QVariantMap bigTree() {
  QVariantMap tree;
  for (int i = 0; i < 120; ++i) tree.insert(QStringLiteral("key%1").arg(i), QStringLiteral("a value long enough to matter %1").arg(i));
  return tree;
}

// An XML property list nested depth arrays deep.
QByteArray nestedXML(int depth) {
  QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- <array> in a comment is no array -->\n<plist version=\"1.0\">\n";
  for (int i = 0; i < depth; ++i) xml += "<array>";
  xml += "<array/>";
  for (int i = 0; i < depth; ++i) xml += "</array>";
  return xml + "\n</plist>\n";
}

// A binary property list of depth arrays, each holding the next one (one-byte references).
QByteArray nestedBinary(int depth) {
  // Object i is an array of one reference to object i + 1; the last one is empty. Two-byte references.
  QByteArray objects;
  QList<quint32> offsets;
  for (int i = 0; i <= depth; ++i) {
    offsets << quint32(8 + objects.size());
    if (i == depth) {
      objects += char(0xA0);
    } else {
      objects += char(0xA1);
      objects += char((i + 1) >> 8);
      objects += char((i + 1) & 0xFF);
    }
  }
  QByteArray data = "bplist00" + objects;
  const quint64 tableAt = quint64(data.size());
  for (quint32 offset : offsets)
    for (int b = 3; b >= 0; --b) data += char((offset >> (8 * b)) & 0xFF);
  QByteArray trailer(32, '\0');
  trailer[6] = 4;  // offset size
  trailer[7] = 2;  // reference size
  auto put64 = [&](int at, quint64 v) {
    for (int b = 0; b < 8; ++b) trailer[at + b] = char((v >> (8 * (7 - b))) & 0xFF);
  };
  put64(8, quint64(depth + 1));
  put64(16, 0);
  put64(24, tableAt);
  return data + trailer;
}
}  // namespace

TEST(SafeFile, AWriteThatFailsPartWayLeavesTheOldFileWhole) {
  // Past the limit a write fails with EFBIG, as one does on a full disk.
  const QString folder = Test_MakeTempDir(QStringLiteral("limit"));
  const QString path = folder + QStringLiteral("/prefs.plist");
  const QByteArray old = PropertyList_Serialize(QVariantMap{{QStringLiteral("kept"), true}}, PropertyListFormat::XML);
  ASSERT_TRUE(writeAll(path, old));
  const struct {
    const char* name;
    std::function<bool(QString*)> write;
  } cases[] = {
      {"bytes", [&](QString* e) { return SafeFile_Replace(path, QByteArray(8000, 'x'), e); }},
      {"property list", [&](QString* e) { return PropertyList_WriteFile(path, bigTree(), PropertyListFormat::XML, e); }},
      {"preferences", [&](QString* e) {
         UserDefaults defaults(path);
         defaults.setObject(QStringLiteral("big"), bigTree());
         *e = QStringLiteral("synchronize");
         return defaults.synchronize();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QString error;
    bool written = true;
    {
      const Test_FileSizeLimit limit(4096);
      written = c.write(&error);
    }
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(entries(folder), QStringList{QStringLiteral("prefs.plist")}) << "the unfinished copy is removed";
  }
  // Without the limit the same write goes through.
  QString error;
  ASSERT_TRUE(PropertyList_WriteFile(path, bigTree(), PropertyListFormat::XML, &error)) << error.toStdString();
  EXPECT_EQ(PropertyList_ReadFile(path).toMap(), bigTree());
}

TEST(SafeFile, ASymbolicLinkIsNeverWrittenThrough) {
  const QString folder = Test_MakeTempDir(QStringLiteral("link"));
  const QString outside = Test_MakeTempDir(QStringLiteral("outside")) + QStringLiteral("/precious.txt");
  ASSERT_TRUE(writeAll(outside, "precious"));
  const QString link = folder + QStringLiteral("/prefs.plist");
  ASSERT_TRUE(QFile::link(outside, link));
  QString error;
  EXPECT_FALSE(PropertyList_WriteFile(link, QVariantMap{{QStringLiteral("a"), 1}}, PropertyListFormat::XML, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("symbolic link"))) << error.toStdString();
  EXPECT_EQ(readAll(outside), QByteArray("precious"));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(entries(folder), QStringList{QStringLiteral("prefs.plist")});
}

// A copy is made whole into a name of its own, or not at all: nothing is written over or through a link,
// a pipe is not waited on, and a copy cut short by a full disk leaves nothing behind.
TEST(SafeFile, ACopyIsWholeOrNotThere) {
  const QString folder = Test_MakeTempDir(QStringLiteral("copy"));
  const QString source = folder + QStringLiteral("/source");
  ASSERT_TRUE(writeAll(source, QByteArray(3 << 20, 'v') + "end"));  // more than one read's worth
  const QString taken = folder + QStringLiteral("/taken");
  ASSERT_TRUE(writeAll(taken, "precious"));
  const QString outside = Test_MakeTempDir(QStringLiteral("outside")) + QStringLiteral("/precious");
  ASSERT_TRUE(writeAll(outside, "precious"));
  ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/link")));
  ASSERT_TRUE(QFile::link(source, folder + QStringLiteral("/sourceLink")));
  const QString fifo = folder + QStringLiteral("/fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  struct Row {
    const char* what;
    QString from, to;
    int error;
    qint64 limit;
  };
  for (const Row& row : {Row{"a name taken", source, taken, EEXIST, 0}, Row{"a link at the target", source, folder + "/link", EEXIST, 0},
                         Row{"a link as the source", folder + "/sourceLink", folder + "/a", ELOOP, 0},
                         Row{"a pipe", fifo, folder + "/b", EINVAL, 0}, Row{"no room", source, folder + "/c", EFBIG, 1 << 20},
                         Row{"whole", source, folder + "/d", 0, 0}}) {
    SCOPED_TRACE(row.what);
    int error = -1;
    if (row.limit > 0) {
      const Test_FileSizeLimit limit(row.limit);
      error = SafeFile_CopyNew(row.from, row.to);
    } else {
      error = SafeFile_CopyNew(row.from, row.to);
    }
    EXPECT_EQ(error, row.error);
    if (row.error == 0) {
      EXPECT_EQ(readAll(row.to), readAll(source));
    } else if (row.error != EEXIST) {
      EXPECT_FALSE(QFileInfo::exists(row.to)) << "nothing is left";
    }
  }
  EXPECT_EQ(readAll(taken), QByteArray("precious"));
  EXPECT_EQ(readAll(outside), QByteArray("precious"));
}

TEST(SafeFile, AReplacedFileKeepsItsPermissions) {
  const QString path = Test_MakeTempDir(QStringLiteral("perm")) + QStringLiteral("/f");
  ASSERT_TRUE(writeAll(path, "old"));
  ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
  ASSERT_TRUE(SafeFile_Replace(path, "new"));
  EXPECT_EQ(readAll(path), QByteArray("new"));
  // Owner, group and others (Qt adds the current user's own flags beside them).
  EXPECT_EQ(QFile::permissions(path) & QFileDevice::Permissions(0x7077), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST(PropertyList, NestingBeyondTheLimitIsDamagedInput) {
  // 200000 levels ran the recursive reader out of stack before the file could be set aside.
  const struct {
    const char* name;
    QByteArray data;
    bool readable;
  } cases[] = {
      {"XML well within the limit", nestedXML(kSafeFile_MaxNesting - 100), true},
      {"XML beyond it", nestedXML(kSafeFile_MaxNesting + 100), false},
      {"XML 200000 deep", nestedXML(200000), false},
      {"binary well within the limit", nestedBinary(kSafeFile_MaxNesting - 100), true},
      {"binary beyond it", nestedBinary(kSafeFile_MaxNesting + 100), false},
      {"binary 60000 deep", nestedBinary(60000), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PropertyList_Deserialize(c.data).isValid(), c.readable);
  }
  // A binary list whose array holds itself is refused as well.
  QByteArray loop = nestedBinary(1);
  loop[8 + 2] = 0;  // object 0 now refers to object 0
  EXPECT_FALSE(PropertyList_Deserialize(loop).isValid());
}

TEST(UserDefaults, ADeeplyNestedFileIsSetAsideAndTheStartGoesOn) {
  const QString folder = Test_MakeTempDir(QStringLiteral("deep"));
  const QString path = folder + QStringLiteral("/org.velmora.Velmora.plist");
  ASSERT_TRUE(writeAll(path, nestedXML(200000)));
  UserDefaults d(path);
  EXPECT_TRUE(d.persistentDomain().isEmpty());
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(QDir(folder).entryList({QStringLiteral("*.damaged-*")}).size(), 1);
}

TEST(UserDefaults, AnUnreadableFileIsLeftAsItIsAndNotWrittenOver) {
  const auto shared = Test_MakeSharedDir();
  const QString path = shared->path() + QStringLiteral("/org.velmora.Velmora.plist");
  const QByteArray stored = PropertyList_Serialize(QVariantMap{{QStringLiteral("ZRNSaved"), 7}}, PropertyListFormat::XML);
  ASSERT_TRUE(writeAll(path, stored));
  ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
  {
    const Test_OrdinaryUserFiles ordinary;
    UserDefaults d(path);
    const QStringList messages = d.takePendingMessages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().contains(QStringLiteral("cannot be read"))) << messages.first().toStdString();
    d.setInteger(QStringLiteral("ZRNSaved"), 8);
    EXPECT_FALSE(d.synchronize());
  }
  ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
  EXPECT_EQ(readAll(path), stored);
  EXPECT_EQ(entries(shared->path()), QStringList{QStringLiteral("org.velmora.Velmora.plist")});
}

TEST(PropertyList, ANulInsideAStringIsDamagedInput) {
  // Found by the property-list fuzzer: libplist stops the whole program on such a string (an assertion),
  // so a preferences file damaged this way ended every start.
  const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
  const QByteArray tail = "</dict></plist>\n";
  const struct {
    const char* name;
    QByteArray data;
  } cases[] = {
      {"in a string", head + "<key>ZRNCameraName</key><string>Cam" + '\0' + "One</string>" + tail},
      {"in a key", head + "<key>ZRN" + '\0' + "Camera</key><string>x</string>" + tail},
      {"as a reference", head + "<key>ZRNCameraName</key><string>Cam&#0;</string>" + tail},
      {"as a hexadecimal reference", head + "<key>ZRNCameraName</key><string>Cam&#x000;</string>" + tail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(PropertyList_Deserialize(c.data).isValid());
  }
  // A binary list with the string "a\0b" as its only object.
  QByteArray binary = "bplist00";
  binary += QByteArray("\x53" "a\0b", 4);
  binary += char(8);
  QByteArray trailer(32, '\0');
  trailer[6] = 1;
  trailer[7] = 1;
  trailer[15] = 1;                   // one object
  trailer[31] = char(8 + 4);         // the offset table follows the object
  EXPECT_FALSE(PropertyList_Deserialize(binary + trailer).isValid());
  // Without the NUL the same lists read.
  EXPECT_TRUE(PropertyList_Deserialize(head + "<key>ZRNCameraName</key><string>Cam&#65;</string>" + tail).isValid());
  binary[10] = 'x';
  EXPECT_TRUE(PropertyList_Deserialize(binary + trailer).isValid());
}
