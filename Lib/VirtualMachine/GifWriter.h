// A GIF writer (Qt reads GIF but cannot write it): one frame, a 256-entry
// global palette, LZW-compressed.
//
// Palette: the image's own colours when it has at most 255 opaque ones;
// otherwise a 6 x 7 x 6 colour cube (each channel within 26 of the pixel).
// A pixel with alpha below 128 becomes the transparent index; alpha is
// otherwise dropped (GIF has no partial transparency).
#pragma once

#include <QByteArray>
#include <QImage>

namespace vm {

// The GIF file of the image; empty for a null image or one wider or taller
// than 65535 pixels.
QByteArray encodeGif(const QImage& aImage);

}  // namespace vm
