#include "platform/media/writer/AssetWriterParts.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>

void AssetWriterInput::Encoder::send(AVFrame* frame) {
  FFmpegEncodeStep failed = FFmpegEncodeStep::Send;
  const int ret = opened.frames.encode(frame, [this](AVPacket* packet) {
    if (type == MediaType::Video && packet->duration <= 0) packet->duration = frameDuration;
    core->writePacket(packet, streamIndex, codec()->time_base);
    return 0;  // a failed write ends the writer there
  }, &failed);
  if (ret >= 0) return;
  const char* what = type == MediaType::Video ? "video" : "audio";
  core->fail(ret, failed == FFmpegEncodeStep::Send ? Fmt("The %@ encoder refused a frame: %@.", what, FFmpeg_ErrorText(ret))
                                                   : Fmt("The %@ encoder failed: %@.", what, FFmpeg_ErrorText(ret)));
}

bool AssetWriterInput::Encoder::sessionBounds(MediaTime* start, MediaTime* end) {
  core->sessionTimes(start, end);
  if (start->isNumeric()) return true;
  if (!loggedEarly) {
    Platform_Log("ATT: %@ buffer appended before the writer session started, dropping it", MediaType_Name(type));
    loggedEarly = true;
  }
  return false;
}

void AssetWriterInput::Encoder::encodeVideo(const SampleBuffer& buffer) {
  MediaTime start, end;
  if (!sessionBounds(&start, &end)) return;
  const MediaTime pts = buffer.presentationTimeStamp();
  if (!pts.isNumeric() || pts < start) return;
  if (end.isNumeric() && pts > end) return;
  const int64_t t = MediaTimeConvertScale(pts - start, kAssetWriterVideoTimescale).value;
  if (t <= lastPts) {
    Platform_Log("ATT: video buffer out of order (%@), dropping it", pts.description());
    return;
  }
  const AVFrame* src = buffer.frame();
  if (!src || src->width <= 0 || src->height <= 0) return;
  // A fragment can only end at a key frame, and the muxer ends one at the first key frame once it is
  // nearly a fragment long (fragmentCutTicks). The picture nearest to a fragment length after the
  // fragment's own start is made a key frame, so every fragment is that long to within half a
  // picture: left to the encoder's key frame rhythm, the host clock's jitter would often push the
  // cut to the key frame a second later. The picture is asked for as an I picture, which x264 makes
  // an IDR frame (its GOPs are closed), wherever it falls in the encoder's own key-frame rhythm.
  const bool forceKey =
      fragmentTicks > 0 && (fragmentStart == INT64_MIN || t - fragmentStart >= fragmentCutTicks());
  if (forceKey) fragmentStart = t;
  const AVPictureType pictType = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (src->format == AV_PIX_FMT_YUV420P && src->width == codec()->width && src->height == codec()->height) {
    const FFmpegFramePtr f = FFmpeg_CloneFrame(src);
    if (!f) return;
    f->pts = t;
    f->pict_type = pictType;
    send(f.get());
  } else {
    // The encoder may still hold the previous picture: never draw over it.
    int ret = av_frame_make_writable(yuv.get());
    if (ret < 0) {
      core->fail(ret, Fmt("No memory for a video frame: %@.", FFmpeg_ErrorText(ret)));
      return;
    }
    ret = toYUV.scale(src, yuv.get());
    if (ret < 0) {
      core->fail(ret, Fmt("Video frames of %@x%@ in format %@ cannot be converted.", src->width, src->height,
                          src->format));
      return;
    }
    yuv->pts = t;
    yuv->pict_type = pictType;
    send(yuv.get());
  }
  lastPts = t;
}

bool AssetWriterInput::Encoder::ensureResampler(const AVFrame* in) {
  int ret = 0;
  if (resampler.prepare(in, codec()->sample_fmt, codec()->sample_rate, codec()->ch_layout.nb_channels, &ret)) return true;
  core->fail(ret, Fmt("Audio of %@ Hz cannot be converted: %@.", in->sample_rate, FFmpeg_ErrorText(ret)));
  return false;
}

void AssetWriterInput::Encoder::encodeAudio(const SampleBuffer& buffer) {
  MediaTime start, end;
  if (!sessionBounds(&start, &end) || audioEnded) return;
  const AVFrame* in = buffer.frame();
  if (!in || in->nb_samples <= 0 || in->sample_rate <= 0) return;
  const int outRate = codec()->sample_rate;
  const MediaTime pts = buffer.presentationTimeStamp();
  if (!audioStarted) {
    if (!pts.isNumeric()) return;
    // The first buffer places the audio on the movie's timeline; later ones follow sample by sample.
    const int64_t offset = MediaTimeConvertScale(pts - start, outRate).value;
    const int64_t length = av_rescale(in->nb_samples, outRate, in->sample_rate);
    if (offset + length <= 0) return;
    skipSamples = offset < 0 ? -offset : 0;
    nextSamplePts = offset < 0 ? 0 : offset;
    audioStarted = true;
    if (!ensureResampler(in)) return;
  } else {
    if (!ensureResampler(in)) return;
    if (pts.isNumeric()) resync(MediaTimeConvertScale(pts - start, outRate).value);
  }
  const int outSamples = swr_get_out_samples(resampler.context(), in->nb_samples);
  const FFmpegFramePtr tmp = outSamples > 0 ? makeAudioFrame(outSamples) : nullptr;
  if (tmp) {
    const int got = resampler.convert(tmp->data, tmp->nb_samples, in);
    if (got < 0) {
      core->fail(got, Fmt("Audio of %@ Hz cannot be converted: %@.", in->sample_rate, FFmpeg_ErrorText(got)));
      return;
    }
    // Samples owed to a skip are left out of this buffer's start (the encoder's format is planar).
    const int skip = static_cast<int>(std::min<int64_t>(skipSamples, std::max(got, 0)));
    skipSamples -= skip;
    if (got > skip) {
      void* planes[AV_NUM_DATA_POINTERS] = {nullptr};
      const int bytes = av_get_bytes_per_sample(codec()->sample_fmt);
      for (int c = 0; c < codec()->ch_layout.nb_channels && c < AV_NUM_DATA_POINTERS; ++c)
        planes[c] = tmp->data[c] + static_cast<ptrdiff_t>(skip) * bytes;
      if (!writeFifo(planes, got - skip)) return;
    }
  }
  encodeFifo(false, start, end);
}

FFmpegFramePtr AssetWriterInput::Encoder::makeAudioFrame(int samples) {
  int ret = 0;
  FFmpegFramePtr f = FFmpeg_MakeAudioFrame(codec()->sample_fmt, codec()->sample_rate, codec()->ch_layout.nb_channels, samples, &ret);
  if (f) return f;
  core->fail(ret, Fmt("No memory for audio samples: %@.", FFmpeg_ErrorText(ret)));
  return nullptr;
}

bool AssetWriterInput::Encoder::writeFifo(void** planes, int count) {
  const int written = av_audio_fifo_write(fifo.get(), planes, count);
  if (written >= count) return true;
  const int ret = written < 0 ? written : AVERROR(ENOMEM);
  core->fail(ret, Fmt("No memory for audio samples: %@.", FFmpeg_ErrorText(ret)));
  return false;
}

void AssetWriterInput::Encoder::resync(int64_t actualPosition) {
  const int64_t expected =
      nextSamplePts + av_audio_fifo_size(fifo.get()) + swr_get_delay(resampler.context(), codec()->sample_rate) - skipSamples;
  const int64_t drift = actualPosition - expected;
  const int64_t tolerance = codec()->sample_rate / 10;
  if (drift > -tolerance && drift < tolerance) return;
  Platform_Log("ATT: audio moved by %lld samples to stay with the picture", static_cast<long long>(drift));
  if (drift < 0) {
    skipSamples += -drift;
    return;
  }
  int64_t silence = drift;
  // Silence first pays off samples still owed to a skip.
  const int64_t owed = std::min(silence, skipSamples);
  skipSamples -= owed;
  silence -= owed;
  const FFmpegFramePtr zero = makeAudioFrame(4096);
  if (zero) {
    av_samples_set_silence(zero->data, 0, zero->nb_samples, zero->ch_layout.nb_channels,
                           static_cast<AVSampleFormat>(zero->format));
    while (silence > 0) {
      const int n = static_cast<int>(std::min<int64_t>(silence, zero->nb_samples));
      if (!writeFifo(reinterpret_cast<void**>(zero->data), n)) return;
      silence -= n;
    }
  }
}

void AssetWriterInput::Encoder::encodeFifo(bool flush, const MediaTime& start, const MediaTime& end) {
  const int frameSize = codec()->frame_size > 0 ? codec()->frame_size : 1024;
  const int64_t endSample = end.isNumeric() && start.isNumeric()
                                ? MediaTimeConvertScale(end - start, codec()->sample_rate).value
                                : INT64_MAX;
  while (!audioEnded && (av_audio_fifo_size(fifo.get()) >= frameSize || (flush && av_audio_fifo_size(fifo.get()) > 0))) {
    int count = std::min(av_audio_fifo_size(fifo.get()), frameSize);
    if (nextSamplePts >= endSample) {
      audioEnded = true;
      break;
    }
    if (nextSamplePts + count > endSample) count = static_cast<int>(endSample - nextSamplePts);
    const FFmpegFramePtr f = makeAudioFrame(count);
    if (!f) return;
    const int read = av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->data), count);
    if (read != count) {
      const int ret = read < 0 ? read : AVERROR_BUG;
      core->fail(ret, Fmt("Queued audio samples cannot be read: %@.", FFmpeg_ErrorText(ret)));
      return;
    }
    f->pts = nextSamplePts;
    nextSamplePts += count;
    send(f.get());
    // Only the last frame may be short.
    if (count < frameSize) audioEnded = true;
  }
  if (audioEnded) av_audio_fifo_reset(fifo.get());
}

void AssetWriterInput::Encoder::drain() {
  if (drained) return;
  drained = true;
  if (type == MediaType::Audio && audioStarted) {
    MediaTime start, end;
    core->sessionTimes(&start, &end);
    encodeFifo(true, start, end);
  }
  send(nullptr);
}

QString AssetWriter_OpenEncoder(AssetWriterInput::Encoder* enc, MediaType type, const QVariantMap& settings, AVFormatContext* fmt) {
  // Opened with its encode loop started.
  FFmpegEncoder& opened = enc->opened;
  QString failure;
  if (type == MediaType::Video) {
    if (!FFmpeg_OpenH264Encoder(&opened, settings, AVRational{1, kAssetWriterVideoTimescale}, fmt, &failure)) return failure;
    const QVariantMap props = settings.value(QString::fromLatin1(AVVideoCompressionPropertiesKey)).toMap();
    double fps = FFmpeg_NumberSetting(props, AVVideoExpectedSourceFrameRateKey, 30);
    if (fps <= 0) fps = 30;
    enc->frameDuration = std::max<int64_t>(1, std::llround(kAssetWriterVideoTimescale / fps));
  } else if (!FFmpeg_OpenAACEncoder(&opened, settings, fmt, &failure)) {
    return failure;
  }
  enc->streamIndex = opened.stream->index;
  if (type == MediaType::Video) {
    enc->yuv = FFmpeg_MakeVideoFrame(AV_PIX_FMT_YUV420P, enc->codec()->width, enc->codec()->height);
    if (!enc->yuv) return QStringLiteral("Out of memory for video frames.");
  } else {
    enc->fifo.reset(av_audio_fifo_alloc(enc->codec()->sample_fmt, enc->codec()->ch_layout.nb_channels, 4096));
    if (!enc->fifo) return QStringLiteral("Out of memory for audio samples.");
  }
  return QString();
}
