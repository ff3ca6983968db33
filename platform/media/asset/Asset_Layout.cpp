#include "platform/media/asset/MovieLayout.h"
#include "platform/media/asset/AssetTiming.h"

#include <QFile>
#include <QIODevice>

extern "C" {
#include <libavutil/common.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

namespace {

// What the walk reads at a box it does not look into: enough for the header of the box and, when it is
// a fragment header, most often the whole of it and the header of its media data behind it.
constexpr int64_t kChunk = 16 * 1024;
// Fragment headers and movie-extends boxes larger than this are not read whole.
constexpr int64_t kMaxParsedBox = 4 * 1024 * 1024;
// A fragment header of a recording is a few KiB: two hours of them stay well under this.
constexpr int64_t kMaxKeptHeaderBytes = 64 * 1024 * 1024;
// A fragment index larger than this is not read (2 hours of 2 s fragments need about 150 KiB).
constexpr int64_t kMaxFragmentIndex = 16 * 1024 * 1024;
// How much of each fragment the demuxer reads when it opens the movie: its own buffer at the header.
constexpr int64_t kDemuxerRead = 32 * 1024;

uint32_t U_Be32(const char* p) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  return (uint32_t(u[0]) << 24) | (uint32_t(u[1]) << 16) | (uint32_t(u[2]) << 8) | uint32_t(u[3]);
}

uint64_t U_Be64(const char* p) { return (uint64_t(U_Be32(p)) << 32) | U_Be32(p + 4); }

}  // namespace

// The bytes of a source read in chunks, so that the header of a box and the one right behind it come
// from one read.
class MovieChunkReader {
 public:
  explicit MovieChunkReader(MovieByteSource& source) : m_source(source) {}
  // length bytes at offset, or false when they cannot all be had.
  bool read(int64_t offset, char* out, int64_t length) {
    if (offset < 0 || length < 0 || offset + length > m_source.size()) return false;
    if (offset < m_start || offset + length > m_start + int64_t(m_buffer.size())) {
      const int64_t want = std::min(std::max(length, kChunk), m_source.size() - offset);
      m_buffer.resize(size_t(want));
      const int64_t got = m_source.readAt(offset, m_buffer.data(), want);
      m_buffer.resize(size_t(std::max<int64_t>(0, got)));
      m_start = offset;
      if (got < length) return false;
    }
    std::memcpy(out, m_buffer.data() + (offset - m_start), size_t(length));
    return true;
  }
  MovieByteSource& source() { return m_source; }

 private:
  MovieByteSource& m_source;
  std::vector<char> m_buffer;
  int64_t m_start = 0;
};

namespace {

// A box header at h, of which `have` bytes are present, for a box that may take up to `room` bytes: its
// size (believed only up to the room: a 64-bit size of 2^63 or more would turn negative and send the walk
// backwards for ever), where its type stands and how long the header is.
bool U_ParseBoxHeader(const char* h, int64_t have, int64_t room, int64_t* size, const char** type, int* headerSize) {
  if (have < 8 || room < 8) return false;
  uint64_t s = U_Be32(h);
  *type = h + 4;
  *headerSize = 8;
  if (s == 1) {
    if (have < 16 || room < 16) return false;
    s = U_Be64(h + 8);
    *headerSize = 16;
  } else if (s == 0) {
    s = uint64_t(room);  // the box runs to the end
  }
  if (s < uint64_t(*headerSize) || s > uint64_t(room)) return false;
  *size = int64_t(s);
  return true;
}

// The box at `at` within [at, end) of bytes in memory.
bool U_BoxIn(const char* data, int64_t at, int64_t end, int64_t* size, const char** type, int* headerSize) {
  return at < end && U_ParseBoxHeader(data + at, end - at, end - at, size, type, headerSize);
}

// The box at `at` within [at, end) of the source.
bool U_BoxHeader(MovieChunkReader& in, int64_t at, int64_t end, int64_t* size, char type[5], int* headerSize) {
  if (at + 8 > end) return false;
  char h[16];
  const int64_t have = std::min<int64_t>(16, end - at);
  const char* t = nullptr;
  if (!in.read(at, h, have) || !U_ParseBoxHeader(h, have, end - at, size, &t, headerSize)) return false;
  std::memcpy(type, t, 4);
  type[4] = 0;
  return true;
}

bool U_IsKnownTopLevelBox(const char* type) {
  static const char* const known[] = {"ftyp", "moov", "moof", "mdat", "free", "skip", "wide", "uuid",
                                      "mfra", "sidx", "styp", "meta", "pdin", "emsg", "prft"};
  for (const char* k : known)
    if (std::memcmp(type, k, 4) == 0) return true;
  return false;
}

// One track fragment: the track, and where its samples end when they are read at all.
struct TrackFragment {
  uint32_t trackID = 0;
  bool hasBase = false;
  int64_t base = 0;
  int64_t durations = 0;
  bool ok = true;
};

// Sums the sample durations of one track run; every count is believed only up to the bytes present.
bool U_SumRun(const char* p, int64_t length, uint32_t defaultDuration, int64_t* sum) {
  if (length < 8) return false;
  const uint32_t flags = U_Be32(p) & 0xffffff;
  const uint32_t count = U_Be32(p + 4);
  int64_t at = 8 + ((flags & 0x1) ? 4 : 0) + ((flags & 0x4) ? 4 : 0);
  const int perSample = ((flags & 0x100) ? 4 : 0) + ((flags & 0x200) ? 4 : 0) + ((flags & 0x400) ? 4 : 0) +
                        ((flags & 0x800) ? 4 : 0);
  if (at > length || (perSample > 0 && int64_t(count) > (length - at) / perSample)) return false;
  if (!(flags & 0x100)) {
    // Both factors are below 2^32: their product fits unsigned 64 bits.
    const uint64_t product = uint64_t(count) * defaultDuration;
    *sum = av_sat_add64(*sum, int64_t(std::min<uint64_t>(product, uint64_t(INT64_MAX))));
    return true;
  }
  for (uint32_t i = 0; i < count; ++i, at += perSample) *sum = av_sat_add64(*sum, U_Be32(p + at));
  return true;
}

TrackFragment U_ReadTrackFragment(const char* data, int64_t begin, int64_t end,
                                  const std::map<uint32_t, uint32_t>& defaults) {
  TrackFragment tf;
  uint32_t defaultDuration = 0;
  bool haveHeader = false;
  for (int64_t at = begin; at < end;) {
    int64_t size = 0;
    const char* type = nullptr;
    int hs = 0;
    if (!U_BoxIn(data, at, end, &size, &type, &hs)) {
      tf.ok = false;
      break;
    }
    const char* body = data + at + hs;
    const int64_t length = size - hs;
    if (std::memcmp(type, "tfhd", 4) == 0 && length >= 8) {
      const uint32_t flags = U_Be32(body) & 0xffffff;
      tf.trackID = U_Be32(body + 4);
      const auto it = defaults.find(tf.trackID);
      defaultDuration = it != defaults.end() ? it->second : 0;
      int64_t off = 8 + ((flags & 0x1) ? 8 : 0) + ((flags & 0x2) ? 4 : 0);
      if (flags & 0x8) {
        if (off + 4 > length) tf.ok = false;
        else defaultDuration = U_Be32(body + off);
      }
      haveHeader = true;
    } else if (std::memcmp(type, "tfdt", 4) == 0 && length >= 8) {
      const bool wide = uint8_t(body[0]) == 1;
      if (wide && length < 12) tf.ok = false;
      tf.base = wide ? int64_t(std::min<uint64_t>(U_Be64(body + 4), uint64_t(INT64_MAX) / 2)) : U_Be32(body + 4);
      tf.hasBase = true;
    } else if (std::memcmp(type, "trun", 4) == 0) {
      if (!haveHeader || !U_SumRun(body, length, defaultDuration, &tf.durations)) tf.ok = false;
    }
    at += size;
  }
  if (!haveHeader) tf.ok = false;
  return tf;
}

// The track fragments of a fragment header read whole, in their order; false when one of them cannot be
// read.
bool U_TrackFragments(const char* moof, int64_t size, const std::map<uint32_t, uint32_t>& defaults,
                      std::vector<TrackFragment>* fragments) {
  int64_t size0 = 0;
  const char* type = nullptr;
  int hs = 0;
  if (!U_BoxIn(moof, 0, size, &size0, &type, &hs)) return true;
  for (int64_t child = hs; child < size;) {
    int64_t csize = 0;
    const char* ctype = nullptr;
    int chs = 0;
    if (!U_BoxIn(moof, child, size, &csize, &ctype, &chs)) break;
    if (std::memcmp(ctype, "traf", 4) == 0) {
      fragments->push_back(U_ReadTrackFragment(moof, child + chs, child + csize, defaults));
      if (!fragments->back().ok) return false;
    }
    child += csize;
  }
  return true;
}

}  // namespace

namespace {
std::atomic<int64_t> gMovieFileReads{0};
}  // namespace

int64_t Asset_MovieFileReads() { return gMovieFileReads.load(); }
void Asset_CountMovieFileRead() { ++gMovieFileReads; }

MovieFileSource::MovieFileSource(int fd) : m_fd(fd) {
  struct stat st {};
  if (::fstat(fd, &st) == 0) m_size = st.st_size;
}

int64_t MovieFileSource::readAt(int64_t offset, char* buf, int64_t length) {
  Asset_CountMovieFileRead();
  int64_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(m_fd, buf + done, size_t(length - done), offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return done > 0 ? done : -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool MovieLayoutWalk::U_ReadMovieBox(MovieChunkReader& in, int64_t at, int64_t size, int headerSize) {
  for (int64_t child = at + headerSize; child < at + size;) {
    int64_t csize = 0;
    char ctype[5];
    int chs = 0;
    if (!U_BoxHeader(in, child, at + size, &csize, ctype, &chs)) break;
    if (std::memcmp(ctype, "mvex", 4) == 0) {
      m_layout.hasMovieExtends = true;
      if (csize <= kMaxParsedBox) {
        std::vector<char> mvex(static_cast<size_t>(csize));
        if (in.read(child, mvex.data(), csize)) {
          for (int64_t t = chs; t < csize;) {
            int64_t tsize = 0;
            const char* ttype = nullptr;
            int ths = 0;
            if (!U_BoxIn(mvex.data(), t, csize, &tsize, &ttype, &ths)) break;
            // trex: version and flags, track, description index, default duration, size, flags.
            if (std::memcmp(ttype, "trex", 4) == 0 && tsize - ths >= 16)
              m_defaultDurations[U_Be32(mvex.data() + t + ths + 4)] = U_Be32(mvex.data() + t + ths + 12);
            t += tsize;
          }
        }
      }
    }
    child += csize;
  }
  return true;
}

void MovieLayoutWalk::U_ReadFragmentHeader(MovieChunkReader& in, int64_t at, int64_t size) {
  m_pendingEnds.clear();
  if (!m_endsKnown) return;
  if (size > kMaxParsedBox) {
    m_endsKnown = false;
    return;
  }
  std::vector<char> moof(static_cast<size_t>(size));
  // Most often from the chunk the walk read at this header already.
  if (!in.read(at, moof.data(), size)) {
    m_endsKnown = false;
    return;
  }
  std::vector<TrackFragment> fragments;
  if (!U_TrackFragments(moof.data(), size, m_defaultDurations, &fragments)) {
    m_endsKnown = false;
    return;
  }
  for (const TrackFragment& tf : fragments) {
    // Without a base time a fragment follows on from the track's last one.
    int64_t start = 0;
    if (tf.hasBase) start = tf.base;
    else if (const auto p = m_pendingEnds.find(tf.trackID); p != m_pendingEnds.end()) start = p->second;
    else if (const auto t = m_trackEnds.find(tf.trackID); t != m_trackEnds.end()) start = t->second;
    m_pendingEnds[tf.trackID] = av_sat_add64(start, tf.durations);
  }
}

bool MovieLayoutWalk::fragmentEnds(MovieByteSource& source, int64_t at, std::map<uint32_t, int64_t>* ends) const {
  MovieChunkReader in(source);
  int64_t size = 0;
  char type[5];
  int headerSize = 0;
  if (!U_BoxHeader(in, at, source.size(), &size, type, &headerSize) || std::memcmp(type, "moof", 4) != 0) return false;
  // A header too large to read whole still stands where it should: its ends are only not known.
  if (size > kMaxParsedBox) return true;
  std::vector<char> moof(static_cast<size_t>(size));
  std::vector<TrackFragment> fragments;
  if (!in.read(at, moof.data(), size)) return false;
  U_TrackFragments(moof.data(), size, m_defaultDurations, &fragments);
  for (const TrackFragment& tf : fragments)
    if (tf.ok && tf.hasBase) (*ends)[tf.trackID] = av_sat_add64(tf.base, tf.durations);
  return true;
}

void MovieLayoutWalk::U_Keep(MovieChunkReader& in, int64_t at, int64_t size) {
  // Boxes past the largest header the walk reads whole are left to the disk, and so is everything once
  // a file of many boxes (a damaged or hostile one) has filled what may be kept.
  if (!m_kept || size <= 0 || size > kMaxParsedBox || m_kept->total + size > kMaxKeptHeaderBytes) return;
  if (!m_kept->ranges.empty() && m_kept->ranges.back().first + int64_t(m_kept->ranges.back().second.size()) > at) return;
  std::string bytes(size_t(size), '\0');
  if (!in.read(at, bytes.data(), size)) return;
  m_kept->total += size;
  m_kept->ranges.emplace_back(at, std::move(bytes));
}

bool MovieLayoutWalk::walkOn(MovieByteSource& source) {
  const int64_t fileSize = source.size();
  if (fileSize < m_layout.fileSize || (m_started && !m_layout.isBoxFile)) return false;
  m_layout.fileSize = fileSize;
  m_layout.brokenBoxAt = -1;
  MovieChunkReader in(source);
  while (m_at < fileSize) {
    int64_t size = 0;
    char type[5];
    int headerSize = 0;
    if (!U_BoxHeader(in, m_at, fileSize, &size, type, &headerSize)) {
      if (m_layout.isBoxFile) m_layout.brokenBoxAt = m_at;
      break;
    }
    if (!m_started) {
      m_started = true;
      if (!U_IsKnownTopLevelBox(type)) break;  // not a box file: read it whole
      m_layout.isBoxFile = true;
    }
    if (std::memcmp(type, "moov", 4) == 0) {
      U_ReadMovieBox(in, m_at, size, headerSize);
      m_layout.headerEnd = m_at + size;
    }
    // What a demuxer reads of the box when it opens the movie: all of a header, the header of media data.
    if (std::memcmp(type, "mdat", 4) == 0) U_Keep(in, m_at, headerSize);
    else if (std::memcmp(type, "free", 4) != 0 && std::memcmp(type, "skip", 4) != 0 && std::memcmp(type, "mfra", 4) != 0)
      U_Keep(in, m_at, size);
    if (std::memcmp(type, "moof", 4) == 0) {
      m_pendingMoof = m_at;
      U_ReadFragmentHeader(in, m_at, size);
    } else {
      if (std::memcmp(type, "mdat", 4) == 0 && m_pendingMoof >= 0) {
        ++m_layout.completeFragments;
        m_fragmentStarts.push_back(m_pendingMoof);
        for (const auto& [track, end] : m_pendingEnds) m_trackEnds[track] = end;
        m_pendingEnds.clear();
        m_pendingMoof = -1;
      }
      m_readable = m_at + size;
    }
    m_at += size;
  }
  m_started = true;
  if (!m_layout.isBoxFile) {
    m_layout.readableLength = fileSize;
    m_at = fileSize;
  } else {
    m_layout.readableLength = m_pendingMoof >= 0 ? std::min(m_readable, m_pendingMoof) : m_readable;
  }
  if (!m_endsKnown) m_trackEnds.clear();
  return true;
}

std::vector<int64_t> Asset_FinishedFragmentIndex(MovieByteSource& source) {
  // The index's last box (mfro) says how long the index is: version and flags, then the length.
  const int64_t fileSize = source.size();
  char tail[16];
  if (fileSize < 64 || source.readAt(fileSize - 16, tail, 16) != 16) return {};
  if (U_Be32(tail) != 16 || std::memcmp(tail + 4, "mfro", 4) != 0) return {};
  const int64_t length = U_Be32(tail + 12);
  if (length < 24 || length > kMaxFragmentIndex || length > fileSize - 16) return {};
  std::vector<char> mfra(static_cast<size_t>(length));
  if (source.readAt(fileSize - length, mfra.data(), length) != length) return {};
  if (U_Be32(mfra.data()) != uint32_t(length) || std::memcmp(mfra.data() + 4, "mfra", 4) != 0) return {};
  std::set<int64_t> moofs;
  for (int64_t at = 8; at < length;) {
    int64_t size = 0;
    const char* type = nullptr;
    int hs = 0;
    if (!U_BoxIn(mfra.data(), at, length, &size, &type, &hs)) return {};
    if (std::memcmp(type, "tfra", 4) == 0 && size - hs >= 16) {
      const char* b = mfra.data() + at + hs;
      const bool wide = uint8_t(b[0]) == 1;
      const uint32_t sizes = U_Be32(b + 8);
      const uint32_t count = U_Be32(b + 12);
      const int entry = (wide ? 16 : 8) + int((sizes >> 4) & 3) + 1 + int((sizes >> 2) & 3) + 1 + int(sizes & 3) + 1;
      if (int64_t(count) > (size - hs - 16) / entry) return {};
      for (uint32_t i = 0; i < count; ++i) {
        const char* e = b + 16 + int64_t(i) * entry;
        const int64_t moof = wide ? int64_t(U_Be64(e + 8) & 0x7fffffffffffffffULL) : int64_t(U_Be32(e + 4));
        // An index pointing outside the file or into the index itself is no index of this file.
        if (moof <= 0 || moof >= fileSize - length) return {};
        moofs.insert(moof);
      }
    }
    at += size;
  }
  return std::vector<int64_t>(moofs.begin(), moofs.end());
}

namespace {

class DeviceSource : public MovieByteSource {
 public:
  explicit DeviceSource(QIODevice& device) : m_device(device) {}
  int64_t size() const override { return m_device.size(); }
  int64_t readAt(int64_t offset, char* buf, int64_t length) override {
    if (!m_device.seek(offset)) return -1;
    return m_device.read(buf, length);
  }

 private:
  QIODevice& m_device;
};

// The first bytes of a source, up to `end`.
struct HeadOnly : MovieByteSource {
  MovieByteSource& inner;
  int64_t end;
  HeadOnly(MovieByteSource& s, int64_t e) : inner(s), end(e) {}
  int64_t size() const override { return end; }
  int64_t readAt(int64_t offset, char* buf, int64_t length) override { return inner.readAt(offset, buf, length); }
};

// A finished fragmented movie: its first boxes say what it is, its closing index where its fragments
// are. The demuxer reads every fragment header one after the other when it opens the movie; asked for
// all of them now, the disk reads them side by side.
bool U_FinishedMovie(int fd, MovieFileSource& source, MovieFileLayout* layout) {
  const std::vector<int64_t> moofs = Asset_FinishedFragmentIndex(source);
  if (moofs.empty()) return false;
  // The boxes before the first fragment: the file type and the movie box.
  HeadOnly head(source, moofs.front());
  MovieLayoutWalk walk;
  if (!walk.walkOn(head) || !walk.layout().isBoxFile || !walk.layout().hasMovieExtends) return false;
  for (const int64_t moof : moofs) (void)::posix_fadvise(fd, moof, kDemuxerRead, POSIX_FADV_WILLNEED);
  *layout = walk.layout();
  layout->fileSize = source.size();
  layout->readableLength = source.size();
  layout->completeFragments = int(moofs.size());
  layout->finished = true;
  // A damaged fragment header ends what the demuxer reads, and the index says nothing of it: a demuxer
  // that stops short of the last fragment tells.
  layout->lastFragmentAt = moofs.back();
  return true;
}

}  // namespace

bool Asset_WalkMovieFile(const QString& path, MovieLayoutWalk* walk, struct stat* info) {
  struct stat st {};
  const int fd = Asset_OpenMovieFile(path, nullptr, &st);
  if (fd < 0) return false;
  MovieFileSource source(fd, st.st_size);
  const bool walked = walk->walkOn(source);
  ::close(fd);
  if (info) *info = st;
  return walked;
}

namespace {
// The layout from the movie's fragment index when its writer finished it; otherwise from a walk of its
// boxes, or, without `walkUnfinished`, none.
MovieFileLayout U_ScanMovieFile(const QString& path, bool walkUnfinished) {
  // A FIFO in the movie's place is refused at once, not waited on.
  struct stat st {};
  const int fd = Asset_OpenMovieFile(path, nullptr, &st);
  if (fd < 0) return MovieFileLayout();
  MovieFileLayout layout;
  MovieFileSource source(fd, st.st_size);
  if (!U_FinishedMovie(fd, source, &layout)) {
    layout = MovieFileLayout();
    if (walkUnfinished) {
      MovieLayoutWalk walk;
      walk.walkOn(source);
      layout = walk.layout();
    }
  }
  ::close(fd);
  return layout;
}
}  // namespace

MovieFileLayout Asset_ScanMovieFile(const QString& path) { return U_ScanMovieFile(path, true); }

MovieFileLayout Asset_ScanFinishedMovieFile(const QString& path) { return U_ScanMovieFile(path, false); }

std::map<uint32_t, int64_t> Asset_LastFragmentEnds(const QString& path, const MovieFileLayout& layout) {
  std::map<uint32_t, int64_t> ends;
  struct stat st {};
  const int fd = layout.finished ? Asset_OpenMovieFile(path, nullptr, &st) : -1;
  if (fd < 0) return ends;
  MovieFileSource source(fd, st.st_size);
  // The movie box again, for the defaults that the fragment's header leaves out.
  HeadOnly head(source, std::min<int64_t>(layout.headerEnd, st.st_size));
  MovieLayoutWalk walk;
  if (walk.walkOn(head)) walk.fragmentEnds(source, layout.lastFragmentAt, &ends);
  ::close(fd);
  return ends;
}

MovieFileLayout Asset_ScanMovieData(QIODevice& device) {
  DeviceSource source(device);
  MovieLayoutWalk walk;
  walk.walkOn(source);
  return walk.layout();
}
