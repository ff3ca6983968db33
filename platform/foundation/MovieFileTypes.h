#pragma once
// The file-type identifiers of recorded and exported movies. Preferences store them, the writer and the
// export session are told them, so every layer that names a movie type takes it from here.

inline constexpr const char* kMovieFileTypeQuickTime = "video/quicktime";
inline constexpr const char* kMovieFileTypeMPEG4 = "video/mp4";
