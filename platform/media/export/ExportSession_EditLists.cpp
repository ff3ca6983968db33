// Shortening a written movie's edit lists in place, after a pass-through copy.

#include "platform/media/export/ExportSessionWork.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Walks the boxes of a movie down to each track's edit list and shortens its last entry (and the track's
// and the movie's lengths with it).
class EditListTrimmer {
 public:
  EditListTrimmer(const QString& path, const std::vector<double>& endSeconds) : m_file(path), m_ends(endSeconds) {}

  bool run() {
    if (!m_file.open(QIODevice::ReadWrite)) return false;
    const int64_t size = m_file.size();
    int64_t at = 0;
    while (at + 8 <= size) {
      int64_t boxSize = 0, header = 0;
      QByteArray type;
      if (!box(at, size, &boxSize, &header, &type)) return false;
      if (type == "moov") return moov(at + header, at + boxSize);
      at += boxSize;
    }
    return false;
  }

 private:
  bool box(int64_t at, int64_t limit, int64_t* size, int64_t* header, QByteArray* type) {
    if (!m_file.seek(at)) return false;
    const QByteArray h = m_file.read(8);
    if (h.size() != 8) return false;
    uint64_t s = be(h, 0, 4);
    *type = h.mid(4, 4);
    *header = 8;
    if (s == 1) {
      const QByteArray l = m_file.read(8);
      if (l.size() != 8) return false;
      s = be(l, 0, 8);
      *header = 16;
    } else if (s == 0) {
      s = uint64_t(limit - at);
    }
    if (s < uint64_t(*header) || s > uint64_t(limit - at)) return false;
    *size = int64_t(s);
    return true;
  }
  static uint64_t be(const QByteArray& b, int offset, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | uint8_t(b[offset + i]);
    return v;
  }
  uint64_t readAt(int64_t at, int bytes) {
    m_file.seek(at);
    return be(m_file.read(bytes), 0, bytes);
  }
  void writeAt(int64_t at, uint64_t value, int bytes) {
    QByteArray b(bytes, 0);
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) b[i] = char(value & 0xff);
    m_file.seek(at);
    m_file.write(b);
  }

  bool moov(int64_t begin, int64_t end) {
    int64_t mvhdDuration = -1;
    int mvhdBytes = 4;
    uint64_t movieTimescale = 0;
    size_t trackIndex = 0;
    uint64_t longest = 0;
    for (int64_t at = begin; at + 8 <= end;) {
      int64_t size = 0, header = 0;
      QByteArray type;
      if (!box(at, end, &size, &header, &type)) return false;
      if (type == "mvhd") {
        const int version = int(readAt(at + header, 1));
        const int64_t ts = at + header + 4 + (version == 1 ? 16 : 8);
        movieTimescale = readAt(ts, 4);
        mvhdDuration = ts + 4;
        mvhdBytes = version == 1 ? 8 : 4;
      } else if (type == "trak") {
        if (movieTimescale == 0) return false;
        const double want = trackIndex < m_ends.size() ? m_ends[trackIndex] : -1.0;
        ++trackIndex;
        uint64_t length = 0;
        if (!trak(at + header, at + size, want, movieTimescale, &length)) return false;
        longest = std::max(longest, length);
      }
      at += size;
    }
    if (mvhdDuration >= 0 && longest > 0) writeAt(mvhdDuration, longest, mvhdBytes);
    return true;
  }

  bool trak(int64_t begin, int64_t end, double want, uint64_t movieTimescale, uint64_t* length) {
    int64_t tkhdDuration = -1;
    int tkhdBytes = 4;
    for (int64_t at = begin; at + 8 <= end;) {
      int64_t size = 0, header = 0;
      QByteArray type;
      if (!box(at, end, &size, &header, &type)) return false;
      if (type == "tkhd") {
        const int version = int(readAt(at + header, 1));
        tkhdDuration = at + header + 4 + (version == 1 ? 24 : 16);
        tkhdBytes = version == 1 ? 8 : 4;
        *length = readAt(tkhdDuration, tkhdBytes);
      } else if (type == "edts") {
        int64_t eSize = 0, eHeader = 0;
        QByteArray eType;
        if (box(at + header, at + size, &eSize, &eHeader, &eType) && eType == "elst" && want > 0.0) {
          const int64_t body = at + header + eHeader;
          const int version = int(readAt(body, 1));
          const uint64_t count = readAt(body + 4, 4);
          const int field = version == 1 ? 8 : 4;
          const int entry = 2 * field + 4;
          const uint64_t target = uint64_t(std::llround(want * double(movieTimescale)));
          uint64_t before = 0;
          for (uint64_t i = 0; i + 1 < count; ++i) before += readAt(body + 8 + int64_t(i * entry), field);
          if (count > 0 && target > before) {
            const int64_t last = body + 8 + int64_t((count - 1) * entry);
            const uint64_t current = readAt(last, field);
            if (before + current > target) {
              writeAt(last, target - before, field);
              *length = target;
              if (tkhdDuration >= 0) writeAt(tkhdDuration, target, tkhdBytes);
            }
          }
        }
      }
      at += size;
    }
    return true;
  }

  QFile m_file;
  std::vector<double> m_ends;
};

}  // namespace

bool ExportSession_TrimEditLists(const QString& path, const std::vector<double>& endSeconds) {
  return EditListTrimmer(path, endSeconds).run();
}
