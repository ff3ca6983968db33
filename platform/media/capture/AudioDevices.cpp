#include "platform/media/capture/AudioDevices.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

#include <mutex>

namespace {

void RegisterDevices() {
  static std::once_flag once;
  std::call_once(once, [] { avdevice_register_all(); });
}

struct RawDevice {
  QString name;
  QString description;
};

bool ListFrom(const char* formatName, bool inputs, std::vector<RawDevice>* out) {
  RegisterDevices();
  AVDeviceInfoList* list = nullptr;
  int r;
  if (inputs) {
    const AVInputFormat* fmt = av_find_input_format(formatName);
    if (!fmt) return false;
    r = avdevice_list_input_sources(fmt, nullptr, nullptr, &list);
  } else {
    const AVOutputFormat* fmt = av_guess_format(formatName, nullptr, nullptr);
    if (!fmt) return false;
    r = avdevice_list_output_sinks(fmt, nullptr, nullptr, &list);
  }
  if (r < 0 || !list) {
    avdevice_free_list_devices(&list);
    return false;
  }
  for (int i = 0; i < list->nb_devices; ++i) {
    const AVDeviceInfo* info = list->devices[i];
    out->push_back({QString::fromUtf8(info->device_name), QString::fromUtf8(info->device_description)});
  }
  avdevice_free_list_devices(&list);
  return true;
}

// PulseAudio when its server answers, else the ALSA hardware devices (opened through plughw so that
// the rates we offer are converted by ALSA when the card lacks them).
std::vector<AudioDeviceInfo> Scan(bool inputs, QString* backend) {
  std::vector<RawDevice> raw;
  std::vector<AudioDeviceInfo> result;
  if (ListFrom("pulse", inputs, &raw)) {
    *backend = QStringLiteral("pulse");
    for (const RawDevice& r : raw) {
      // A sink's monitor is not a microphone.
      if (inputs && r.name.endsWith(QLatin1String(".monitor"))) continue;
      result.push_back({r.name, r.description.isEmpty() ? r.name : r.description, {}, r.name, inputs, false});
    }
  } else if (ListFrom("alsa", inputs, &raw)) {
    *backend = QStringLiteral("alsa");
    for (const RawDevice& r : raw) {
      if (!r.name.startsWith(QLatin1String("hw:"))) continue;
      const QString name = r.description.section('\n', 0, 0).trimmed();
      result.push_back({r.name, name.isEmpty() ? r.name : name, {}, QStringLiteral("plug") + r.name, inputs, false});
    }
  }
  for (AudioDeviceInfo& info : result) {
    if (!AudioDevice_LooksBuiltIn(info.systemName, info.name)) continue;
    info.isBuiltIn = true;
    info.uniqueID = QString::fromLatin1(inputs ? kBuiltInMicrophoneUID : kBuiltInOutputUID);
    info.name = QString::fromLatin1(inputs ? kBuiltInMicrophoneName : kBuiltInOutputName);
    info.manufacturer = QStringLiteral("Built-in");
    break;  // only one device can be the built-in one
  }
  return result;
}

}  // namespace

bool AudioDevice_LooksBuiltIn(const QString& systemName, const QString& description) {
  if (systemName.endsWith(QLatin1String(".monitor"))) return false;
  if (systemName.contains(QLatin1String("usb"), Qt::CaseInsensitive)) return false;
  if (description.contains(QLatin1String("USB"), Qt::CaseInsensitive)) return false;
  return systemName.contains(QLatin1String(".pci-")) || description.contains(QLatin1String("HDA "));
}

std::vector<AudioDeviceInfo> AudioDevice_List(bool inputs) {
  QString backend;
  return Scan(inputs, &backend);
}

QString AudioDevice_SystemNameForUID(const QString& uniqueID, bool input) {
  for (const AudioDeviceInfo& info : AudioDevice_List(input))
    if (info.uniqueID == uniqueID) return info.systemName;
  return uniqueID;
}

std::vector<CaptureDeviceRef> AudioDevice_ScanMicrophones() {
  QString backend;
  const std::vector<AudioDeviceInfo> infos = Scan(true, &backend);
  std::vector<CaptureDeviceRef> devices;
  for (const AudioDeviceInfo& info : infos) {
    CaptureDevice::Description d;
    d.uniqueID = info.uniqueID;
    d.localizedName = info.name;
    d.modelID = info.systemName;
    d.manufacturer = info.manufacturer;
    d.mediaType = MediaType::Audio;
    d.kind = backend == QLatin1String("pulse") ? CaptureDeviceKind::PulseAudio : CaptureDeviceKind::Alsa;
    d.transportType = info.isBuiltIn ? kCaptureTransportBuiltIn : kCaptureTransportUSB;
    d.inputFormatName = backend;
    d.inputURL = info.systemName;
    // Both servers convert to the rate asked for, so the usual capture rates are all deliverable.
    d.formats = CaptureDeviceFormat_StereoPCMFormats(QStringLiteral("s16le"));
    devices.push_back(std::make_shared<CaptureDevice>(std::move(d)));
  }
  return devices;
}
