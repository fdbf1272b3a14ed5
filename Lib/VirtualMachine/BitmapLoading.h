// Making bitmaps and bitmap fonts from image files and image bytes.
#pragma once

#include "../Containers/OString.h"
#include "Heap.h"
#include "Types.h"

namespace vm {

class VirtualMachine;

// Reads the whole file through the host's file operation and decodes it:
// a bitmap font's box when aAsFont, else a new kind-2 Drawable record; 0
// when the bytes are not an image. Raises code 6 "Filename is empty", code 7
// "Could not open file: <path>", code 6 "File is empty", and code 7 when
// the read fails or the file's size changes while it is read.
Word LoadBitmapFromFile(VirtualMachine& aVm, const OString& aPath, TBool aAsFont);

// A new kind-2 Drawable of the image the bytes hold, or 0 when they hold
// none (or aCount is 0).
Addr newBitmapRecord(VMHeap& aHeap, const uint8_t* aBytes, int64_t aCount);

}  // namespace vm
