// Drawable: the 12-byte plain-data record (GC_CODE_DRAWABLE) behind every
// graphics and bitmap object of bytecode; the object's first word holds the
// record's address.
//
//   word 0  kind      1: drawing on the screen's back buffer, 2: a bitmap
//   word 1  graphics  block owning the GraphicsContainer (0: none yet)
//   word 2  bitmap    block of the bitmap (kind 2 only, else 0)
//
// Bytecode can rewrite every word of the record, so each accessor reads it
// through checked accesses and validates what it finds: a wrong kind raises
// code 10 with the accessor's message, a graphics word that names no
// container block raises code 10 "Invalid object".
#pragma once

#include "Heap.h"
#include "Types.h"

namespace vm {

class BitmapContainer;
class GraphicsContainer;

enum DrawableKind : int32_t {
    KDrawableGraphics = 1,
    KDrawableBitmap = 2,
};

struct DrawableLayout {
    static constexpr uint32_t kSize = 12;
    static constexpr uint32_t kKind = 0;
    static constexpr uint32_t kGraphics = 4;
    static constexpr uint32_t kBitmap = 8;
};

// A kind-1 record drawing through the container block.
Addr createGraphicsDrawable(VMHeap& aHeap, Addr aContainer);
// A kind-2 record of the bitmap block, without a container.
Addr createBitmapDrawable(VMHeap& aHeap, Addr aBitmap);

// The container to draw through, or null when there is none to draw on (a
// kind-1 record whose container word is 0, a kind-2 record whose bitmap holds
// no pixels). Kind other than 1 or 2: code 10 "Invalid object type ID".
// For kind 2 a container is created on the bitmap's pixels on first use and
// kept in the record.
GraphicsContainer* getGraphics(VMHeap& aHeap, Addr aDrawable);
// The bitmap block; kind other than 2: code 10 "Invalid typeid on bitmap".
Addr getBitmap(VMHeap& aHeap, Addr aDrawable);
// The bitmap's pixels, or null for a record without pixels (a bitmap word
// of 0, or one that names no bitmap). Kind other than 2 as getBitmap.
BitmapContainer* bitmapOf(VMHeap& aHeap, Addr aDrawable);
// Replaces the bitmap block; kind other than 2: code 10 (no message).
void setBitmap(VMHeap& aHeap, Addr aDrawable, Addr aBitmap);
// Before a bitmap is read as a source: ends the painting of its container
// and forgets it. Kind other than 2: code 10 "Invalid bitmap handle".
void releaseGraphics(VMHeap& aHeap, Addr aDrawable);

int32_t drawableKind(VMHeap& aHeap, Addr aDrawable);

}  // namespace vm
