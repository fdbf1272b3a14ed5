// Helpers for the tests of bitmaps, fonts and drawing: a VM on a host that
// serves files from memory, native calls on the operand stack, bitmap
// objects and their pixels, and font images built pixel by pixel.
#pragma once

#ifdef MCB_HAVE_HOST

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BitmapContainer.h"
#include "Containers/OVector.h"
#include "Drawable.h"
#include "HostTestSupport.h"
#include "IO/MemoryStream.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "TestSupport.h"
#include "VirtualMachine.h"

namespace gfxtest {

using Pair = std::pair<int, std::string>;
using Words = std::vector<vm::Word>;
enum Group { GRAPHICS = 18, BITMAP = 19, FONT = 20, SYSTEM = 32 };

// A stream whose reported size changes by `drift` after the first query, as
// a file written to while it is read, or that claims a size of its own.
class DriftingStream : public KELVAR::MemoryInputStream {
public:
    DriftingStream(const std::string& aBytes, int aDrift, TInt32 aClaimed)
        : MemoryInputStream(reinterpret_cast<const TUint8*>(aBytes.data()), TUint32(aBytes.size())),
          drift(aDrift), claimed(aClaimed)
    {
    }
    TInt32 streamSize() override
    {
        if (claimed >= 0)
            return claimed;
        return MemoryInputStream::streamSize() + (queries++ > 0 ? drift : 0);
    }

private:
    int drift;
    TInt32 claimed;
    int queries = 0;
};

// Files by path; every opened stream drifts by `drift` and, when
// `claimedSize` is not negative, claims that size.
struct FileHost : TestHost {
    std::map<std::string, std::string> files;
    int drift = 0;
    TInt32 claimedSize = -1;
    std::vector<bool> operation32;  // the flags of frameworkOperation32, in order
    void frameworkOperation32(bool aFlag) override { operation32.push_back(aFlag); }
    KELVAR::InputStream* openInputStream(const OString& aPath, int) override
    {
        auto it = files.find(aPath.toUtf8());
        if (it == files.end())
            return nullptr;
        return new DriftingStream(it->second, drift, claimedSize);
    }
};

inline std::string encoded(const QImage& aImage, const char* aFormat)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    aImage.save(&buffer, aFormat);
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// A VM on a FileHost, with a sentinel in slot 0 that every call must leave.
struct NativeFixture : ::testing::Test {
    static constexpr vm::Word kSentinel = 0x5EED;
    static constexpr int kPosition = 99;
    FileHost host;
    std::unique_ptr<vm::VirtualMachine> machine;

    void SetUp() override
    {
        if (!hosttest::ensureApplication())
            GTEST_SKIP() << "another application object exists";
        machine = std::make_unique<vm::VirtualMachine>();
        machine->setHost(&host);
        machine->pc = kPosition;
        machine->push(kSentinel);
    }
    void TearDown() override
    {
        if (machine) {
            EXPECT_EQ(machine->stack()[0], kSentinel);
        }
    }
    vm::VirtualMachine& vm() { return *machine; }
    vm::VMHeap& heap() { return machine->heap(); }

    // Pushes the operands, calls, and returns the words above the sentinel.
    Words call(int aGroup, int aFunction, std::initializer_list<vm::Word> aOperands)
    {
        machine->top = 0;
        for (vm::Word w : aOperands)
            machine->push(w);
        machine->callNative(aGroup, aFunction);
        if (machine->top < 0) {
            ADD_FAILURE() << "the sentinel was popped";
            machine->top = 0;
            return {};
        }
        return Words(machine->stack() + 1, machine->stack() + machine->top + 1);
    }
    Pair error(int aGroup, int aFunction, std::initializer_list<vm::Word> aOperands)
    {
        Pair r = errorOf([&] { call(aGroup, aFunction, aOperands); });
        machine->top = 0;
        return r;
    }

    // An object (a one-word box) whose word is 0 until a native fills it.
    vm::Word object() { return vm::Word(vm::newBox(heap(), 0)); }
    vm::Word string(std::u16string_view aText) { return vm::Word(vm::newStringObject(heap(), OString(aText))); }
    vm::Word bytes(const std::string& aBytes) { return vm::Word(vm::newByteVector(heap(), aBytes.data(), aBytes.size())); }
    std::string bytesOf(vm::Word aHolder)
    {
        std::vector<uint8_t> b = vm::byteVectorBytes(heap(), vm::Addr(aHolder));
        return std::string(b.begin(), b.end());
    }
    vm::Addr recordOf(vm::Word aObject) { return vm::Addr(machine->space().loadWord(vm::Addr(aObject))); }

    // A bitmap object made by Bitmap 1.
    vm::Word bitmap(int aWidth, int aHeight, TUint32 aColour)
    {
        vm::Word target = object();
        call(BITMAP, 1, {target, aWidth, aHeight, vm::Word(aColour)});
        return target;
    }
    // A bitmap object holding the image's pixels exactly.
    vm::Word bitmap(const QImage& aImage)
    {
        QImage image = aImage.convertToFormat(QImage::Format_ARGB32);
        vm::Word target = bitmap(image.width(), image.height(), 0);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                call(BITMAP, 9, {target, x, y, vm::Word(image.pixel(x, y))});
        return target;
    }
    vm::BitmapContainer* container(vm::Word aBitmap) { return vm::bitmapOf(heap(), recordOf(aBitmap)); }
    // The newest pixels of a bitmap object (its painting is ended first).
    QImage pixels(vm::Word aBitmap)
    {
        vm::releaseGraphics(heap(), recordOf(aBitmap));
        vm::BitmapContainer* b = container(aBitmap);
        if (!b)
            return QImage();
        return b->pixmapForPainting()->toImage().convertToFormat(QImage::Format_ARGB32);
    }
    TUint32 pixel(vm::Word aBitmap, int aX, int aY) { return TUint32(call(BITMAP, 7, {aBitmap, aX, aY}).at(0)); }
};

// A font image W x H in ARGB32, all pixels 0 until set; blue carries the
// coverage, the other channels hold noise the font must ignore.
struct FontImage {
    QImage image;
    FontImage(int aWidth, int aHeight) : image(aWidth, aHeight, QImage::Format_ARGB32) { image.fill(0x7F7F7F00); }
    void set(int aX, int aY, int aBlue) { image.setPixel(aX, aY, 0xFF7F7F00u | TUint32(aBlue)); }
    void marker(int aX) { set(aX, image.height() - 1, 255); }
    void ascentRows(int aRows)
    {
        for (int y = 0; y < aRows; ++y)
            set(0, y, 200);
    }
};

// Differences of at most aTolerance in every channel.
inline bool near(QRgb aA, QRgb aB, int aTolerance)
{
    return std::abs(qRed(aA) - qRed(aB)) <= aTolerance && std::abs(qGreen(aA) - qGreen(aB)) <= aTolerance &&
           std::abs(qBlue(aA) - qBlue(aB)) <= aTolerance && std::abs(qAlpha(aA) - qAlpha(aB)) <= aTolerance;
}

}  // namespace gfxtest

#endif  // MCB_HAVE_HOST
