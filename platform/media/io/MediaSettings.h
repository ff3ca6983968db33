#pragma once
// Keys of the output settings of a movie's tracks: what the recorder asks of the asset writer and what
// the re-encoding export asks of the same encoders.

// Keys of the output settings of an input.
inline constexpr const char* AVVideoCodecKey = "AVVideoCodecKey";
inline constexpr const char* AVVideoWidthKey = "AVVideoWidthKey";
inline constexpr const char* AVVideoHeightKey = "AVVideoHeightKey";
inline constexpr const char* AVVideoCompressionPropertiesKey = "AVVideoCompressionPropertiesKey";
inline constexpr const char* AVVideoExpectedSourceFrameRateKey = "AVVideoExpectedSourceFrameRateKey";
inline constexpr const char* AVVideoMaxKeyFrameIntervalKey = "AVVideoMaxKeyFrameIntervalKey";
inline constexpr const char* AVVideoAverageBitRateKey = "AVVideoAverageBitRateKey";
inline constexpr const char* AVFormatIDKey = "AVFormatIDKey";
inline constexpr const char* AVNumberOfChannelsKey = "AVNumberOfChannelsKey";
inline constexpr const char* AVSampleRateKey = "AVSampleRateKey";
inline constexpr const char* AVEncoderBitRateKey = "AVEncoderBitRateKey";
inline constexpr const char* AVEncoderAudioQualityKey = "AVEncoderAudioQualityKey";

// Codec identifiers of the settings.
inline constexpr const char* AVVideoCodecTypeH264 = "avc1";
inline constexpr const char* kAudioFormatMPEG4AAC = "aac ";
// The highest encoder audio quality.
inline constexpr int AVAudioQualityMax = 127;

// Encoder choices beside the compression properties, for libx264 (the recorder leaves them out and
// gets its live defaults: preset "superfast", tune "zerolatency", the bit rate it asks for).
inline constexpr const char* kVideoEncoderPresetKey = "VLVideoEncoderPresetKey";
// An empty tune sets none.
inline constexpr const char* kVideoEncoderTuneKey = "VLVideoEncoderTuneKey";
// A constant rate factor: constant quality instead of a bit rate.
inline constexpr const char* kVideoEncoderConstantRateFactorKey = "VLVideoEncoderConstantRateFactorKey";
