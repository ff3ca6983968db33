#pragma once
// Microphones and sound outputs from PulseAudio, or from ALSA when no PulseAudio server answers.
// The machine's own (PCI-attached) microphone and output take the names the rest of the program
// expects of built-in devices.

#include "platform/media/capture/CaptureDevice.h"

#include <QString>

#include <vector>

inline constexpr const char* kBuiltInMicrophoneUID = "BuiltInMicrophoneDevice";
inline constexpr const char* kBuiltInMicrophoneName = "Built-in Microphone";
inline constexpr const char* kBuiltInOutputUID = "BuiltInSpeakerDevice";
inline constexpr const char* kBuiltInOutputName = "Built-in Output";

struct AudioDeviceInfo {
  QString uniqueID;
  QString name;
  QString manufacturer;
  // The Pulse source/sink or ALSA device name the system knows it by.
  QString systemName;
  bool isInput = true;
  bool isBuiltIn = false;
};

// Input (isInput) or output devices, in the sound server's order.
std::vector<AudioDeviceInfo> AudioDevice_List(bool inputs);
// The system name of a device by its uniqueID; the uniqueID itself when it is not known.
QString AudioDevice_SystemNameForUID(const QString& uniqueID, bool input);
// Whether a source looks like the machine's internal one (PCI sound, not USB, not a monitor).
bool AudioDevice_LooksBuiltIn(const QString& systemName, const QString& description);

// Capture devices for the microphones, with the rates a capture can deliver.
std::vector<CaptureDeviceRef> AudioDevice_ScanMicrophones();
