#include "platform/media/asset/Asset.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// A box, with a 64-bit size field when large.
QByteArray box(const char* type, const QByteArray& body, bool large = false) {
  const quint64 size = quint64((large ? 16 : 8) + body.size());
  QByteArray b = large ? QByteArray("\0\0\0\1", 4) : QByteArray();
  for (int shift = 24; shift >= 0 && !large; shift -= 8) b.append(char(size >> shift));
  b.append(type, 4);
  for (int shift = 56; shift >= 0 && large; shift -= 8) b.append(char(size >> shift));
  return b + body;
}

QString write(const QString& name, const QByteArray& bytes) {
  const QString path = QDir(Test_MakeTempDir(QStringLiteral("boxes"))).filePath(name);
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
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
      {"64-bit media box", head + moof + box("mdat", QByteArray(300, 'a'), true), head.size() + moof.size() + 316, 1, true,
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

TEST(AssetScanMovieFile, SizesBeyondTheRemainingBytesEndTheWalk) {
  // 64-bit sizes of 2^63 and more turned negative and sent the walk back for ever (on a worker thread,
  // with no window and no message).
  auto largeBox = [](const char* type, quint64 size) {
    QByteArray b("\0\0\0\1", 4);
    b.append(type, 4);
    for (int shift = 56; shift >= 0; shift -= 8) b.append(char(size >> shift));
    return b;
  };
  const QByteArray ftyp = box("ftyp", QByteArray("isom\0\0\2\0", 8));  // 16 bytes
  const QByteArray moof = box("moof", box("mfhd", QByteArray(8, 0)));
  const QByteArray mdat = box("mdat", QByteArray(64, 'v'));
  const struct {
    const char* name;
    QByteArray bytes;
    qint64 readable;
  } cases[] = {
      {"2^63", ftyp + largeBox("free", quint64(1) << 63) + QByteArray(32, 0), 16},
      {"back to the box before", ftyp + largeBox("free", ~quint64(0) - 15) + QByteArray(32, 0), 16},
      {"2^64 - 1", ftyp + largeBox("mdat", ~quint64(0)), 16},
      {"inside the movie box", ftyp + box("moov", largeBox("mvex", ~quint64(0) - 15) + QByteArray(16, 0)) + moof + mdat,
       16 + 40 + moof.size() + mdat.size()},
      {"one byte more than remains", ftyp + largeBox("free", 17), 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MovieFileLayout layout = Asset_ScanMovieFile(write(QStringLiteral("hostile.mp4"), c.bytes));
    EXPECT_TRUE(layout.isBoxFile);
    EXPECT_EQ(layout.readableLength, c.readable);
    EXPECT_FALSE(layout.hasMovieExtends);
  }
}

namespace {
QByteArray be32(quint32 v) {
  QByteArray b;
  for (int shift = 24; shift >= 0; shift -= 8) b.append(char(v >> shift));
  return b;
}
// A closing fragment index listing the given fragment offsets for track 1.
QByteArray fragmentIndex(const QList<quint32>& moofs, qint64 claimedLength = -1) {
  QByteArray entries;
  for (quint32 at : moofs) entries += be32(0) + be32(at) + QByteArray("\1\1\1", 3);
  const QByteArray tfra = box("tfra", be32(0) + be32(1) + be32(0) + be32(quint32(moofs.size())) + entries);
  const qint64 length = claimedLength >= 0 ? claimedLength : 8 + tfra.size() + 16;
  return box("mfra", tfra + box("mfro", be32(0) + be32(quint32(length))));
}
}  // namespace

// A finished movie ends in an index of its fragments: it is known from that, without a walk over every
// fragment. An index that does not describe the file is no such ending, and the file is walked.
TEST(AssetScanMovieFile, AFinishedMovieIsKnownFromItsClosingIndex) {
  const QByteArray head = box("ftyp", QByteArray("isom\0\0\2\0", 8)) +
                          box("moov", box("mvhd", QByteArray(100, 0)) + box("mvex", box("trex", QByteArray(24, 0))));
  const QByteArray fragment = box("moof", box("mfhd", QByteArray(8, 0))) + box("mdat", QByteArray(500, 'v'));
  const QByteArray movie = head + fragment + fragment;
  const QList<quint32> moofs{quint32(head.size()), quint32(head.size() + fragment.size())};
  const struct {
    const char* name;
    QByteArray bytes;
    bool finished;
    qint64 readable;
  } cases[] = {
      {"index of both fragments", movie + fragmentIndex(moofs), true, movie.size() + fragmentIndex(moofs).size()},
      {"length of the index wrong", movie + fragmentIndex(moofs, 40), false, movie.size() + fragmentIndex(moofs).size()},
      {"fragment beyond the file", movie + fragmentIndex({quint32(head.size()), 1u << 30}), false,
       movie.size() + fragmentIndex(moofs).size()},
      {"index after a torn fragment", movie + fragment.left(100) + fragmentIndex(moofs), true,
       movie.size() + 100 + fragmentIndex(moofs).size()},
      {"no index", movie + fragment.left(100), false, movie.size()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MovieFileLayout layout = Asset_ScanMovieFile(write(QStringLiteral("finished.mp4"), c.bytes));
    EXPECT_EQ(layout.finished, c.finished);
    EXPECT_TRUE(layout.hasMovieExtends);
    EXPECT_EQ(layout.readableLength, c.readable);
    EXPECT_EQ(layout.completeFragments, 2);
  }
}
