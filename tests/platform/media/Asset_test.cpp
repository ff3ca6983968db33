#include "platform/media/Asset.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray box(const char* type, const QByteArray& body) {
  QByteArray b;
  const quint32 size = quint32(8 + body.size());
  b.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
  b.append(type, 4);
  return b + body;
}

// A box with a 64-bit size field.
QByteArray largeBox(const char* type, const QByteArray& body) {
  QByteArray b("\0\0\0\1", 4);
  b.append(type, 4);
  const quint64 size = quint64(16 + body.size());
  for (int shift = 56; shift >= 0; shift -= 8) b.append(char(size >> shift));
  return b + body;
}

QString write(const QString& name, const QByteArray& bytes) {
  const QString path = QDir(Test_MakeTempDir(QStringLiteral("boxes"))).filePath(name);
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(bytes);
  return path;
}

}  // namespace

TEST(AssetScanMovieFile, ReadableLengthEndsAtTheLastCompleteFragment) {
  const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0", 8));
  const QByteArray moovFrag = box("moov", box("mvhd", QByteArray(100, 0)) + box("mvex", box("trex", QByteArray(24, 0))));
  const QByteArray moovPlain = box("moov", box("mvhd", QByteArray(100, 0)) + box("trak", QByteArray(40, 0)));
  const QByteArray moof = box("moof", box("mfhd", QByteArray(8, 0)));
  const QByteArray mdat = box("mdat", QByteArray(500, 'v'));
  const QByteArray head = ftyp + moovFrag;
  struct Case {
    const char* name;
    QByteArray bytes;
    qint64 readable;
    int fragments;
    bool extends, boxFile;
  };
  const Case cases[] = {
      {"header only", head, head.size(), 0, true, true},
      {"two whole fragments", head + moof + mdat + moof + mdat, head.size() + 2 * (moof.size() + mdat.size()), 2, true, true},
      {"media data torn", head + moof + mdat + moof + mdat.left(100), head.size() + moof.size() + mdat.size(), 1, true, true},
      {"fragment header torn", head + moof + mdat + moof.left(10), head.size() + moof.size() + mdat.size(), 1, true, true},
      {"fragment header without its data", head + moof + mdat + moof, head.size() + moof.size() + mdat.size(), 1, true,
       true},
      {"64-bit media box", head + moof + largeBox("mdat", QByteArray(300, 'a')), head.size() + moof.size() + 316, 1, true,
       true},
      {"plain movie", ftyp + mdat + moovPlain, ftyp.size() + mdat.size() + moovPlain.size(), 0, false, true},
      {"plain movie cut before its index", ftyp + mdat.left(200), ftyp.size(), 0, false, true},
      {"not a box file", QByteArray(1000, 'x'), 1000, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MovieFileLayout layout = Asset_ScanMovieFile(write(QStringLiteral("m.mp4"), c.bytes));
    EXPECT_EQ(layout.fileSize, c.bytes.size());
    EXPECT_EQ(layout.readableLength, c.readable);
    EXPECT_EQ(layout.completeFragments, c.fragments);
    EXPECT_EQ(layout.hasMovieExtends, c.extends);
    EXPECT_EQ(layout.isBoxFile, c.boxFile);
  }
  const MovieFileLayout missing = Asset_ScanMovieFile(QStringLiteral("/nonexistent/movie.mp4"));
  EXPECT_EQ(missing.fileSize, 0);
  EXPECT_EQ(missing.readableLength, 0);
}
