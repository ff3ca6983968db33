#include "platform/media/capture/VirtualDevices.h"

#include "platform/foundation/Fmt.h"

#include <algorithm>
#include <cmath>

namespace {

CaptureDeviceFormatRef VideoFormat(uint32_t subtype, int w, int h, QList<FrameRateRange> ranges, const char* pixfmt) {
  auto f = std::make_shared<CaptureDeviceFormat>();
  f->mediaType = MediaType::Video;
  f->mediaSubType = subtype;
  f->dimensions = QSize(w, h);
  f->videoSupportedFrameRateRanges = std::move(ranges);
  f->nativeFormat = QString::fromLatin1(pixfmt);
  return f;
}

// A device of ours, read from lavfi test sources.
CaptureDevice::Description VirtualDescription(const char* uid, const char* name, const char* model, MediaType type) {
  CaptureDevice::Description d;
  d.uniqueID = QString::fromLatin1(uid);
  d.localizedName = QString::fromLatin1(name);
  d.modelID = QString::fromLatin1(model);
  d.manufacturer = QStringLiteral("Velmora");
  d.mediaType = type;
  d.kind = CaptureDeviceKind::Virtual;
  d.transportType = kCaptureTransportVirtual;
  d.inputFormatName = QStringLiteral("lavfi");
  return d;
}

QList<FrameRateRange> SingleRates() { return {{25, 25}, {30, 30}, {50, 50}, {60, 60}}; }

}  // namespace

CaptureDeviceRef VirtualDevices_MakeCamera() {
  CaptureDevice::Description d = VirtualDescription(kVirtualCameraUID, kVirtualCameraName, "Velmora Virtual Camera", MediaType::Video);
  d.formats = {
      VideoFormat(kPixelFormat_2vuy, 1920, 1080, SingleRates(), "uyvy422"),
      VideoFormat(kPixelFormat_2vuy, 1280, 720, SingleRates(), "uyvy422"),
      VideoFormat(kPixelFormat_420v, 1280, 720, {{1, 60}}, "nv12"),
      VideoFormat(kPixelFormat_32BGRA, 640, 480, {{30, 30}}, "bgra"),
  };
  return std::make_shared<CaptureDevice>(std::move(d));
}

CaptureDeviceRef VirtualDevices_MakeMicrophone() {
  CaptureDevice::Description d =
      VirtualDescription(kVirtualMicrophoneUID, kVirtualMicrophoneName, "Velmora Virtual Microphone", MediaType::Audio);
  d.formats = CaptureDeviceFormat_StereoPCMFormats(QStringLiteral("s16"));
  return std::make_shared<CaptureDevice>(std::move(d));
}

void VirtualDevices_Plug(bool camera, bool microphone) {
  auto& registry = CaptureDeviceRegistry::shared();
  if (camera && !registry.deviceWithUniqueID(QString::fromLatin1(kVirtualCameraUID)))
    registry.addDevice(VirtualDevices_MakeCamera());
  if (microphone && !registry.deviceWithUniqueID(QString::fromLatin1(kVirtualMicrophoneUID)))
    registry.addDevice(VirtualDevices_MakeMicrophone());
}

void VirtualDevices_Unplug(bool camera, bool microphone) {
  auto& registry = CaptureDeviceRegistry::shared();
  if (camera) registry.removeDevice(QString::fromLatin1(kVirtualCameraUID));
  if (microphone) registry.removeDevice(QString::fromLatin1(kVirtualMicrophoneUID));
}

bool VirtualDevices_RequestedByEnvironment() { return qEnvironmentVariable("VELMORA_VIRTUAL_DEVICES") == "1"; }

int VirtualDevices_CameraOpenDelayMillis() {
  const int delay = qEnvironmentVariableIntValue("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS");
  return std::clamp(delay, 0, 600000);
}

QString VirtualDevices_SourceGraph(const CaptureDevice& device, const CaptureDeviceFormat& format, double frameRate) {
  if (device.mediaType() == MediaType::Audio) {
    const int rate = format.sampleRate > 0 ? int(format.sampleRate) : 48000;
    // A 1 kHz tone; arealtime releases it at the pace of the clock, as a sound card would.
    return Fmt("sine=frequency=1000:sample_rate=%d:samples_per_frame=%d,"
               "aformat=sample_fmts=s16:channel_layouts=stereo,arealtime",
               rate, rate / 50);
  }
  const QSize size = format.dimensions;
  if (!(frameRate > 0)) frameRate = 30;
  // Rates are given as a fraction so that 29.97 stays exact enough.
  const long long rateMilli = std::llround(frameRate * 1000.0);
  const int fontSize = std::max(16, size.height() / 14);
  return Fmt("testsrc2=size=%dx%d:rate=%lld/1000,"
             "drawtext=text='%%{localtime\\:%%T}  %%{n}':fontsize=%d:fontcolor=white:"
             "box=1:boxcolor=black@0.6:boxborderw=8:x=(w-tw)/2:y=h-th-%d,"
             "format=%@,realtime",
             size.width(), size.height(), rateMilli, fontSize, fontSize, format.nativeFormat);
}
