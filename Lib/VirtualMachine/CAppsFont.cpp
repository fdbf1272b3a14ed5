#include "CAppsFont.h"

#include <QString>

#include "BitmapContainer.h"
#include "KelvarFont.h"
#include "ObjectModel.h"
#include "VMError.h"

namespace vm {

namespace {

QString unitsOf(const OString& aText, int aStart, int aCount)
{
    std::u16string_view units = aText.view().substr(size_t(aStart), size_t(aCount));
    return QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size()));
}

QFont systemFont()
{
    QFont font;
    font.setPixelSize(NativeFont::kPixelSize);
    return font;
}

}  // namespace

NativeFont::NativeFont() : font(systemFont()), metrics(font) {}

int NativeFont::getStringWidth(const OString& aText, int aStart, int aCount) const
{
    if (aCount <= 0)
        return 0;
    return metrics.horizontalAdvance(unitsOf(aText, aStart, aCount));
}

int NativeFont::getCharsThatFit(const OString& aText, int aStart, int aCount, int aMaxWidth) const
{
    if (aCount <= 0)
        return 0;
    // Prefix widths grow with their length: the longest prefix that fits is
    // found by bisection, so a long text costs log(n) measurements.
    QString text = unitsOf(aText, aStart, aCount);
    int fits = 0, fails = aCount + 1;  // prefix lengths known to fit / not to fit
    while (fails - fits > 1) {
        int middle = fits + (fails - fits) / 2;
        if (metrics.horizontalAdvance(text.left(middle)) <= aMaxWidth)
            fits = middle;
        else
            fails = middle;
    }
    return fits;
}

Addr newSystemFont(VMHeap& aHeap, int aSizeCode)
{
    if (aSizeCode < 0 || aSizeCode > 2)
        raiseVmError(KErrInvalidArgument, "Unknown font size");
    return newBoxedObject(aHeap, CAppsFont::kBlockSize, GC_CODE_FONT, new NativeFont());
}

Addr newBitmapFont(VMHeap& aHeap, const uint8_t* aBytes, int64_t aCount)
{
    QImage image;
    if (!decodeImage(aBytes, aCount, image))
        return 0;
    return newBoxedObject(aHeap, CAppsFont::kBlockSize, GC_CODE_FONT,
                          new KelvarFont(image.convertToFormat(QImage::Format_ARGB32)));
}

CAppsFont* fontOf(VMHeap& aHeap, Addr aBox)
{
    Addr block = unbox(aHeap, aBox);
    if (block == 0)
        return nullptr;
    return &objectOf<CAppsFont>(aHeap, block);
}

}  // namespace vm

#ifdef __SANITIZE_ADDRESS__
// Fontconfig, which Qt's fonts use, keeps caches it never frees: that is no
// leak of this program. (Linked in wherever fonts are.)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif
