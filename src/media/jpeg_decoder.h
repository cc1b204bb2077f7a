#pragma once

#include <memory>

#include "media/decode_scale.h"
#include "media/picture.h"
#include "support/bytes.h"

namespace orrin {

// The largest picture a sender may make us decode. A JPEG header is a few bytes; the
// picture it announces can be gigabytes, so the header is read and checked first and
// nothing is allocated for a picture past these limits.
constexpr int MAX_JPEG_SIDE = 8192;
constexpr long long MAX_JPEG_PIXELS = 40'000'000;

// True when a picture of this size may be decoded.
bool JpegSizeAllowed(int width, int height);

// Decodes one complete JPEG file (SOI first) into an owned Picture, or null on any
// failure, each failure with one log line. 4:2:0 pictures come out as I420 planes, every
// other kind as packed RGB24. Never throws. Uses one decoder per calling thread.
std::unique_ptr<Picture> CreateBitmapFromJPEG(const ByteBuffer& data);

// The same, decoded at the smallest TurboJPEG scale that still covers `area` (see
// ChooseScaleDenominator); `scaleDenominator`, when given, receives the scale used.
std::unique_ptr<Picture> CreateBitmapFromJPEG(const ByteBuffer& data, DrawArea area,
                                              int* scaleDenominator = nullptr);

}  // namespace orrin
