#pragma once
// A test-pattern camera and a test-tone microphone for machines without capture hardware (and for
// tests). They capture through FFmpeg's lavfi sources, paced to real time, on the same path as real
// devices. VELMORA_VIRTUAL_DEVICES=1 plugs both when the device lists are first read.

#include "platform/media/capture/CaptureDevice.h"

inline constexpr const char* kVirtualCameraUID = "VelmoraVirtualCamera";
inline constexpr const char* kVirtualCameraName = "Velmora Test Pattern";
inline constexpr const char* kVirtualMicrophoneUID = "VelmoraVirtualMicrophone";
inline constexpr const char* kVirtualMicrophoneName = "Velmora Test Tone";

// Formats of the camera, in this order: 1920x1080 '2vuy' and 1280x720 '2vuy' at the single rates
// 25, 30, 50 and 60; 1280x720 '420v' over 1-60; 640x480 'BGRA' at 30 (a format no rule accepts).
CaptureDeviceRef VirtualDevices_MakeCamera();
// 44100 and 48000 Hz, two channels.
CaptureDeviceRef VirtualDevices_MakeMicrophone();

// Plugging and unplugging post the connected and disconnected notifications on the calling thread.
void VirtualDevices_Plug(bool camera, bool microphone);
void VirtualDevices_Unplug(bool camera, bool microphone);
bool VirtualDevices_RequestedByEnvironment();
// How long opening the virtual camera takes, as a slow real camera would: VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS
// (0, at once, when unset).
int VirtualDevices_CameraOpenDelayMillis();

// The lavfi graph that produces the device's picture or sound in the given format at the given rate.
QString VirtualDevices_SourceGraph(const CaptureDevice& device, const CaptureDeviceFormat& format, double frameRate);
