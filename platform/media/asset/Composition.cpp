#include "platform/media/asset/Composition.h"

#include <algorithm>

namespace {

int32_t finerTimescale(const MediaTime& a, const MediaTime& b) {
  return std::max({a.timescale, b.timescale, int32_t(1000)});
}

// part * (numerator / denominator), kept exact when the two lengths are the same.
MediaTime scaled(const MediaTime& part, const MediaTime& numerator, const MediaTime& denominator) {
  if (numerator == denominator) return part;
  const double d = MediaTimeGetSeconds(denominator);
  if (d <= 0.0) return kMediaTimeZero;
  const double seconds = MediaTimeGetSeconds(part) * MediaTimeGetSeconds(numerator) / d;
  return MediaTimeMakeWithSeconds(seconds, finerTimescale(part, numerator));
}

bool isPositive(const MediaTime& t) { return t.isNumeric() && t > kMediaTimeZero; }

}  // namespace

MutableCompositionTrack::MutableCompositionTrack(const QString& mediaType, int32_t trackID) {
  m_mediaType = mediaType;
  m_trackID = trackID;
}

MediaTime MutableCompositionTrack::end() const {
  MediaTime t = kMediaTimeZero;
  for (const Piece& p : m_pieces) t = t + p.duration;
  return t;
}

MediaTimeRange MutableCompositionTrack::timeRange() const { return MediaTimeRangeMake(kMediaTimeZero, end()); }

QSizeF MutableCompositionTrack::naturalSize() const {
  for (const Piece& p : m_pieces)
    if (!p.empty && !p.naturalSize.isEmpty()) return p.naturalSize;
  return QSizeF();
}

QList<AssetTrackSegment> MutableCompositionTrack::segments() const {
  QList<AssetTrackSegment> out;
  MediaTime at = kMediaTimeZero;
  for (const Piece& p : m_pieces) {
    AssetTrackSegment s = p.source;
    s.empty = p.empty;
    s.timeMapping.target = MediaTimeRangeMake(at, p.duration);
    s.timeMapping.source = p.empty ? kMediaTimeRangeInvalid : p.sourceRange;
    if (p.empty) {
      s.sourcePath.clear();
      s.sourceTrackID = 0;
      s.sourceStreamIndex = -1;
    }
    out.append(s);
    at = at + p.duration;
  }
  return out;
}

size_t MutableCompositionTrack::splitAt(const MediaTime& t) {
  MediaTime start = kMediaTimeZero;
  for (size_t i = 0; i < m_pieces.size(); ++i) {
    if (t == start) return i;
    const MediaTime pieceEnd = start + m_pieces[i].duration;
    if (t < pieceEnd) {
      Piece first = m_pieces[i];
      Piece second = m_pieces[i];
      first.duration = t - start;
      second.duration = pieceEnd - t;
      if (!first.empty) {
        const MediaTime srcFirst = scaled(first.duration, first.sourceRange.duration, m_pieces[i].duration);
        first.sourceRange = MediaTimeRangeMake(m_pieces[i].sourceRange.start, srcFirst);
        second.sourceRange =
            MediaTimeRangeMake(m_pieces[i].sourceRange.start + srcFirst, m_pieces[i].sourceRange.duration - srcFirst);
      }
      m_pieces[i] = first;
      m_pieces.insert(m_pieces.begin() + long(i) + 1, second);
      return i + 1;
    }
    start = pieceEnd;
  }
  if (t > start) {
    Piece gap;
    gap.duration = t - start;
    m_pieces.push_back(gap);
  }
  return m_pieces.size();
}

void MutableCompositionTrack::insertPieces(const MediaTime& at, std::vector<Piece> pieces) {
  const size_t index = splitAt(at);
  m_pieces.insert(m_pieces.begin() + long(index), pieces.begin(), pieces.end());
}

bool MutableCompositionTrack::insertTimeRange(const MediaTimeRange& range, const AssetTrackRef& ofTrack,
                                              const MediaTime& atTime, QString* error) {
  auto fail = [error](const QString& text) {
    if (error) *error = text;
    return false;
  };
  if (!ofTrack) return fail(QStringLiteral("There is no source track to insert."));
  if (ofTrack->mediaType() != m_mediaType) return fail(QStringLiteral("The source track holds another kind of media."));
  if (!range.start.isNumeric() || !isPositive(range.duration) || !atTime.isNumeric() || atTime < kMediaTimeZero)
    return fail(QStringLiteral("The time range to insert is not valid: %1").arg(range.description()));
  const MediaTimeRange whole = ofTrack->timeRange();
  if (range.start < whole.start || range.start >= whole.end())
    return fail(QStringLiteral("The time range %1 lies outside the source track (%2).")
                    .arg(range.description(), whole.description()));

  std::vector<Piece> pieces;
  const QSizeF size = ofTrack->naturalSize();
  for (const AssetTrackSegment& seg : ofTrack->segments()) {
    const MediaTimeRange part = MediaTimeRangeGetIntersection(seg.timeMapping.target, range);
    if (!isPositive(part.duration)) continue;
    Piece p;
    p.duration = part.duration;
    p.empty = seg.empty;
    if (!seg.empty) {
      p.source = seg;
      p.naturalSize = size;
      const MediaTime offset = scaled(part.start - seg.timeMapping.target.start, seg.timeMapping.source.duration,
                                      seg.timeMapping.target.duration);
      const MediaTime length = scaled(part.duration, seg.timeMapping.source.duration, seg.timeMapping.target.duration);
      p.sourceRange = MediaTimeRangeMake(seg.timeMapping.source.start + offset, length);
    }
    pieces.push_back(p);
  }
  // Whatever the source does not cover keeps its place on the time line, empty.
  MediaTime covered = kMediaTimeZero;
  for (const Piece& p : pieces) covered = covered + p.duration;
  if (covered < range.duration) {
    Piece tail;
    tail.duration = range.duration - covered;
    pieces.push_back(tail);
  }
  insertPieces(atTime, std::move(pieces));
  if (m_nominalFrameRate <= 0.0f) m_nominalFrameRate = ofTrack->nominalFrameRate();
  if (m_formatDescriptions.isEmpty()) m_formatDescriptions = ofTrack->formatDescriptions();
  if (error) error->clear();
  return true;
}

void MutableCompositionTrack::insertEmptyTimeRange(const MediaTimeRange& range) {
  if (!range.start.isNumeric() || !isPositive(range.duration) || range.start < kMediaTimeZero) return;
  Piece gap;
  gap.duration = range.duration;
  insertPieces(range.start, {gap});
}

void MutableCompositionTrack::removeTimeRange(const MediaTimeRange& range) {
  if (!range.start.isNumeric() || !isPositive(range.duration)) return;
  const MediaTimeRange clipped = MediaTimeRangeGetIntersection(range, timeRange());
  if (!isPositive(clipped.duration)) return;
  const size_t first = splitAt(clipped.start);
  const size_t last = splitAt(clipped.end());
  m_pieces.erase(m_pieces.begin() + long(first), m_pieces.begin() + long(last));
}

void MutableCompositionTrack::scaleTimeRange(const MediaTimeRange& range, const MediaTime& toDuration) {
  if (!range.start.isNumeric() || !isPositive(range.duration) || !isPositive(toDuration)) return;
  const MediaTimeRange clipped = MediaTimeRangeGetIntersection(range, timeRange());
  if (!isPositive(clipped.duration)) return;
  const size_t first = splitAt(clipped.start);
  const size_t last = splitAt(clipped.end());
  if (first >= last) return;
  // The new lengths are rounded; the last segment takes the rest so the total is exact.
  MediaTime used = kMediaTimeZero;
  for (size_t i = first; i < last; ++i) {
    if (i + 1 == last) {
      m_pieces[i].duration = toDuration - used;
    } else {
      m_pieces[i].duration = scaled(m_pieces[i].duration, toDuration, clipped.duration);
      used = used + m_pieces[i].duration;
    }
  }
}

// ---------------------------------------------------------------------------------------------------

MutableComposition::MutableComposition() : Asset(QUrl()) {}

MutableCompositionRef MutableComposition::composition() { return MutableCompositionRef(new MutableComposition); }

void MutableComposition::probe() const {
  std::lock_guard lock(m_mutex);
  m_probe.done = true;
  m_probe.ok = true;
}

QList<AssetTrackRef> MutableComposition::tracks() const {
  QList<AssetTrackRef> out;
  for (const auto& t : m_tracks) out.append(t);
  return out;
}

MutableCompositionTrackRef MutableComposition::mutableTrackWithTrackID(int32_t trackID) const {
  for (const auto& t : m_tracks)
    if (t->trackID() == trackID) return t;
  return nullptr;
}

MediaTime MutableComposition::duration() const {
  MediaTime longest = kMediaTimeZero;
  for (const auto& t : m_tracks) longest = MediaTimeMaximum(longest, t->timeRange().end());
  return longest;
}

MutableCompositionTrackRef MutableComposition::addMutableTrackWithMediaType(const QString& mediaType,
                                                                            int32_t preferredTrackID) {
  int32_t id = preferredTrackID;
  if (id <= 0 || mutableTrackWithTrackID(id)) {
    id = 1;
    while (mutableTrackWithTrackID(id)) ++id;
  }
  auto track = std::make_shared<MutableCompositionTrack>(mediaType, id);
  m_tracks.append(track);
  return track;
}

void MutableComposition::removeTrack(const MutableCompositionTrackRef& track) { m_tracks.removeAll(track); }

bool MutableComposition::insertTimeRange(const MediaTimeRange& range, const AssetRef& ofAsset,
                                         const MediaTime& atTime, QString* error) {
  if (!ofAsset) {
    if (error) *error = QStringLiteral("There is no source asset to insert.");
    return false;
  }
  const QList<AssetTrackRef> sources = ofAsset->tracks();
  if (sources.isEmpty()) {
    if (error) *error = QStringLiteral("The source asset has no tracks.");
    return false;
  }
  QList<MutableCompositionTrackRef> used;
  for (const AssetTrackRef& src : sources) {
    MutableCompositionTrackRef target;
    for (const auto& t : m_tracks)
      if (t->mediaType() == src->mediaType() && !used.contains(t)) {
        target = t;
        break;
      }
    if (!target) target = addMutableTrackWithMediaType(src->mediaType());
    if (!target->insertTimeRange(range, src, atTime, error)) return false;
    used.append(target);
  }
  // Tracks that got nothing keep in step with the others.
  for (const auto& t : m_tracks)
    if (!used.contains(t) && atTime < t->timeRange().end()) t->insertEmptyTimeRange(MediaTimeRangeMake(atTime, range.duration));
  return true;
}

void MutableComposition::insertEmptyTimeRange(const MediaTimeRange& range) {
  for (const auto& t : m_tracks) t->insertEmptyTimeRange(range);
}

void MutableComposition::removeTimeRange(const MediaTimeRange& range) {
  for (const auto& t : m_tracks) t->removeTimeRange(range);
}

void MutableComposition::scaleTimeRange(const MediaTimeRange& range, const MediaTime& toDuration) {
  for (const auto& t : m_tracks) t->scaleTimeRange(range, toDuration);
}
