#pragma once
// A mutable composition: an asset whose tracks are made of segments, each a stretch of a source track
// placed at a time on the composition's time line, or an empty stretch. Edits keep the segments
// back to back: inserting pushes later segments back, removing pulls them forward, scaling stretches
// the segments inside a range (they then play at another speed).

#include "platform/media/asset/Asset.h"

#include <vector>

class MutableComposition;
using MutableCompositionRef = std::shared_ptr<MutableComposition>;

class MutableCompositionTrack : public AssetTrack {
 public:
  MutableCompositionTrack(const QString& mediaType, int32_t trackID);

  // The time line from zero to the end of the last segment.
  MediaTimeRange timeRange() const override;
  // The size of the first source that has one (zero for an empty track).
  QSizeF naturalSize() const override;
  QList<AssetTrackSegment> segments() const override;
  bool isEmpty() const { return m_pieces.empty(); }

  // Inserts the range of a source track at a time of this track. A range that does not start inside
  // the source track, or that is not a positive length, is refused with an error. A range that runs
  // past the end of the source keeps its length: the part beyond the source is empty.
  bool insertTimeRange(const MediaTimeRange& range, const AssetTrackRef& ofTrack, const MediaTime& atTime,
                       QString* error = nullptr);
  void insertEmptyTimeRange(const MediaTimeRange& range);
  void removeTimeRange(const MediaTimeRange& range);
  // The segments inside the range take the given length together.
  void scaleTimeRange(const MediaTimeRange& range, const MediaTime& toDuration);

 private:
  struct Piece {
    bool empty = true;
    AssetTrackSegment source;  // where the samples come from (its target range is not used)
    QSizeF naturalSize;
    MediaTimeRange sourceRange;
    MediaTime duration;  // length on this track's time line
  };
  // Splits so that a piece boundary falls at t; answers the index of the first piece at or after t
  // (pieces.size() when t is at or past the end; a gap up to t is filled with an empty piece).
  size_t splitAt(const MediaTime& t);
  void insertPieces(const MediaTime& at, std::vector<Piece> pieces);
  MediaTime end() const;

  std::vector<Piece> m_pieces;
};

using MutableCompositionTrackRef = std::shared_ptr<MutableCompositionTrack>;

class MutableComposition : public Asset {
 public:
  static MutableCompositionRef composition();

  QList<AssetTrackRef> tracks() const override;
  QList<MutableCompositionTrackRef> mutableTracks() const { return m_tracks; }
  MutableCompositionTrackRef mutableTrackWithTrackID(int32_t trackID) const;
  // Longest track end; zero when nothing is in the composition.
  MediaTime duration() const override;
  QSizeF naturalSize() const override { return m_naturalSize; }
  void setNaturalSize(const QSizeF& size) { m_naturalSize = size; }
  bool isPlayable() const override { return true; }
  bool canContainFragments() const override { return false; }
  bool containsFragments() const override { return false; }

  // A new empty track; a preferred ID of 0 (or one already used) lets the composition choose.
  MutableCompositionTrackRef addMutableTrackWithMediaType(const QString& mediaType, int32_t preferredTrackID = 0);
  void removeTrack(const MutableCompositionTrackRef& track);

  // Every track of the source asset goes into a track of the same kind (made when missing).
  bool insertTimeRange(const MediaTimeRange& range, const AssetRef& ofAsset, const MediaTime& atTime,
                       QString* error = nullptr);
  void insertEmptyTimeRange(const MediaTimeRange& range);
  void removeTimeRange(const MediaTimeRange& range);
  void scaleTimeRange(const MediaTimeRange& range, const MediaTime& toDuration);

 protected:
  MutableComposition();
  void probe() const override;

 private:
  QSizeF m_naturalSize;
  QList<MutableCompositionTrackRef> m_tracks;
};
