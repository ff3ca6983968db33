#pragma once
// Cameras from Video4Linux2: one device per capture node, with its formats, sizes and frame rates.

#include "platform/media/capture/CaptureDevice.h"

#include <QString>

#include <cstdint>
#include <vector>

// The system's four-character code for a V4L2 pixel format: UYVY '2vuy', YUYV 'yuvs', NV12 '420v',
// MJPG 'dmb1'; any other keeps its own V4L2 code.
uint32_t V4L2_MediaSubTypeForPixelFormat(uint32_t v4l2PixelFormat);
// What libavdevice's v4l2 input wants as "input_format" for a V4L2 pixel format ("" when unknown).
QString V4L2_InputFormatForPixelFormat(uint32_t v4l2PixelFormat);
// modelID of a USB camera: "UVC Camera VendorID_%d ProductID_%d".
QString V4L2_ModelID(int vendorID, int productID);

// Scans /dev/video* (capture nodes only), in node order.
std::vector<CaptureDeviceRef> V4L2_ScanCameras();
