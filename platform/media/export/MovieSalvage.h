#pragma once
// Reading a movie up to the last packet that FFmpeg can read from it. A fragmented movie whose writer was
// killed ends inside a fragment: the asset, like a player, stops before that fragment, while its packets
// that lie in the file are still pictures of the recording. These functions read them all, so that a
// movie made from such a file can keep them and can be checked for having kept them.

#include <QString>

#include <atomic>
#include <cstdint>
#include <vector>

struct MoviePictures {
  // Whole pictures read (a packet cut off by the end of the file is no picture).
  int64_t pictures = 0;
  // The movie is made of fragments and ends inside one: more can be read from it than its asset reads.
  bool cutShort = false;
};

// The readers below stop at their next packet, answering false, once `stop` is set (from any thread).

// Reads every packet of the whole file and counts the whole pictures. When the end of the file cut a
// fragment header, FFmpeg cannot open the file whole; it is then read up to that fragment. False with
// the reason when the file cannot be read as a movie.
bool Movie_CountPictures(const QString& path, MoviePictures* counted, QString* error,
                         const std::atomic<bool>* stop = nullptr);

// Writes every whole packet of the pictures and sound of `from` into a new movie at `to` (not replacing
// anything there; the container is chosen by the extension of `to`), so that the new movie holds the
// pictures of a last fragment only partly written as well. False with the reason on failure; what was
// written is removed then.
bool Movie_CopyReadablePackets(const QString& from, const QString& to, MoviePictures* copied, QString* error);

// The presentation times of the movie's whole pictures, in seconds from the first one shown, in the
// order they are stored. False with the reason when the movie cannot be read.
bool Movie_PictureTimes(const QString& path, std::vector<double>* seconds, QString* error,
                        const std::atomic<bool>* stop = nullptr);
