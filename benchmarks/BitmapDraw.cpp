// Bitmaps and bitmap fonts through the VM against the same work done
// directly with QPainter and QImage, in the same run (offscreen platform):
//  - one draw event blitting 1 000 sprites of 64 x 64 with per-pixel alpha;
//  - one draw event of 10 000 bitmap-font glyphs (100 lines of 100);
//  - 500 000 setPixel and 500 000 getPixel calls on a bitmap, against
//    QImage::setPixel and QImage::pixel.
// The VM's pictures must equal the direct ones; a mismatch fails the run.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Assembler.h"
#include "BitmapContainer.h"
#include "Drawable.h"
#include "GraphicsContainer.h"
#include "HeadlessHost.h"
#include "IO/CAppsFileReader.h"
#include "IO/MemoryStream.h"
#include "KelvarFont.h"
#include "VirtualMachine.h"

namespace {

constexpr int kSprites = 1000, kLines = 100, kLineLength = 100, kPixelCalls = 500000, kPixelSide = 1000;
constexpr TUint32 kTextColour = 0xFFFFD000;

// The programs: main fills the globals, each draw event does the work.
const char* const kPrelude = R"(
.class App
.map plain
.map draw params 2 locals 1 refs 0 1
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.draw to<*canvas>" impl App draw map draw
.code
done:
    ret 0, 1
)";

// Globals: 0 the sprite. Draw: canvas -3-d, i -1-d.
const std::string kSpriteProgram = std::string(".module \"bench-sprites\"\n.globals 1\n") + kPrelude + R"(
main:
    globals
    ldzero
    box
    stind
    globals
    ldind
    ldstr "sprite.png"
    native Bitmap 3
    new 1, 1
    dup
    setclass App
    native System 5
    ret 0, 1
draw:
    adjust.s 1
loop:
    ldslot.s -3                 ; canvas
    globals
    ldind                       ; the sprite
    ldslot.s -3                 ; x = i * 37 % 736
    push 37
    mul
    push 736
    rem
    ldslot.s -4                 ; y = i * 53 % 416
    push 53
    mul
    push 416
    rem
    push 255
    native Graphics 1
    ldaddr.s -1
    inc.i
    ldslot.s -1
    push 1000
    ge
    jz.s loop
    ret 1, 4
)";

// Globals: 0 the font, 1 a line of 100 characters.
const std::string kTextProgram = std::string(".module \"bench-text\"\n.globals 2\n") + kPrelude + R"(
main:
    globals
    ldstr "font.png"
    native System 11
    stind
    globals
    field.s 1
    ldstr "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS!?.:#&"
    stind
    new 1, 1
    dup
    setclass App
    native System 5
    ret 0, 1
draw:
    adjust.s 1
loop:
    ldslot.s -3                 ; canvas
    globals
    field.s 1
    ldind                       ; the line
    ldslot.s -3                 ; x = i * 7 % 40 - 20
    push 7
    mul
    push 40
    rem
    push 20
    sub
    ldslot.s -4                 ; y = i * 4 % 460
    push 4
    mul
    push 460
    rem
    push 0xFFFFD000
    globals
    ldind                       ; the font
    native Graphics 2
    ldaddr.s -1
    inc.i
    ldslot.s -1
    push 100
    ge
    jz.s loop
    ret 1, 4
)";

// Globals: 0 the bitmap. Draw: i counts to 500 000; each step sets the pixel
// (i % 1000, i / 2000) and reads the pixel (i % 997, i / 2000).
const std::string kPixelProgram = std::string(".module \"bench-pixels\"\n.globals 2\n") + kPrelude + R"(
main:
    globals
    ldzero
    box
    stind
    globals
    ldind
    push 1000
    push 1000
    push 0xFF000000
    native Bitmap 1
    new 1, 1
    dup
    setclass App
    native System 5
    ret 0, 1
draw:
    adjust.s 1
loop:
    globals
    ldind                       ; the bitmap
    ldslot.s -2                 ; x = i % 1000
    push 1000
    rem
    ldslot.s -3                 ; y = i / 2000
    push 2000
    div
    ldslot.s -4                 ; colour = i * 2654435761 | 0xFF000000
    push 2654435761
    mul
    push 0xFF000000
    or
    native Bitmap 9
    globals                     ; global 1 += pixel (i % 997, i / 2000)
    field.s 1
    globals
    ldind
    ldslot.s -3
    push 997
    rem
    ldslot.s -4
    push 2000
    div
    native Bitmap 7
    add.i
    ldaddr.s -1
    inc.i
    ldslot.s -1
    push 500000
    ge
    jz.s loop
    ret 1, 4
)";

struct FileHost : vm::HeadlessHost {
    std::map<std::string, std::string> files;
    KELVAR::InputStream* openInputStream(const OString& aPath, int) override
    {
        auto it = files.find(aPath.toUtf8());
        if (it == files.end())
            return nullptr;
        return new KELVAR::MemoryInputStream(reinterpret_cast<const TUint8*>(it->second.data()),
                                             TUint32(it->second.size()));
    }
};

std::string png(const QImage& aImage)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    aImage.save(&buffer, "png");
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// A 64 x 64 ball with soft, translucent edges.
QImage spriteImage()
{
    QImage image(64, 64, QImage::Format_ARGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int d2 = (x - 32) * (x - 32) + (y - 32) * (y - 32);
            int alpha = d2 < 28 * 28 ? 255 : d2 < 32 * 32 ? 255 * (32 * 32 - d2) / (32 * 32 - 28 * 28) : 0;
            image.setPixel(x, y, qRgba(40 + x * 3, 120 + y, 220, alpha));
        }
    return image;
}

// A font of the codes 32 to 95: glyphs 9 pixels wide with a diagonal
// stroke and a bar, 15 rows high.
QImage fontImage()
{
    constexpr int kGlyphs = 64, kAdvance = 9, kRows = 15;
    QImage image(1 + kGlyphs * kAdvance + 1, kRows + 1, QImage::Format_ARGB32);
    image.fill(0xFF000000);
    for (int k = 1; k < kGlyphs; ++k)  // the space stays empty
        for (int y = 1; y < kRows - 1; ++y) {
            int x = 1 + k * kAdvance + 1 + (y + k) % 6;
            image.setPixel(x, y, 0xFFFFFFFF);
            image.setPixel(1 + k * kAdvance + 1 + k % 7, y, 0xFF808080);
        }
    for (int k = 1; k <= kGlyphs; ++k)
        image.setPixel(1 + k * kAdvance, kRows, 0xFFFFFFFF);
    return image;
}

struct VmRun {
    FileHost host;
    std::unique_ptr<vm::VirtualMachine> machine;

    bool start(const std::string& aProgram)
    {
        host.files["sprite.png"] = png(spriteImage());
        host.files["font.png"] = png(fontImage());
        std::vector<uint8_t> bytes = mcb::assemble(aProgram, "bench");
        machine = std::make_unique<vm::VirtualMachine>();
        CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
        try {
            machine->start(reader, CAppsString("index.mcb"), &host);
        } catch (...) {
            return false;
        }
        return true;
    }
    // What the host does for a paint event.
    void draw(QPixmap& aPixmap)
    {
        vm::VMHeap& heap = machine->heap();
        vm::Addr container = vm::newGraphicsContainer(heap, &aPixmap);
        machine->deliverDraw(vm::createGraphicsDrawable(heap, container));
        vm::GraphicsContainer::endPaintingOn(&aPixmap);
    }
};

void prepare(QPainter& aPainter)
{
    aPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    aPainter.setRenderHint(QPainter::Antialiasing, false);
}

void spritesDirectly(QPixmap& aTarget, const QPixmap& aSprite)
{
    QPainter painter(&aTarget);
    prepare(painter);
    for (int i = 0; i < kSprites; ++i)
        painter.drawPixmap(i * 37 % 736, i * 53 % 416, aSprite);
}

// The text with the font's tinted glyph strips, as the VM draws it.
void textDirectly(QPixmap& aTarget, vm::KelvarFont& aFont, const std::u16string& aLine)
{
    QPainter painter(&aTarget);
    prepare(painter);
    const QPixmap& glyphs = aFont.tint(kTextColour);
    for (int i = 0; i < kLines; ++i) {
        int x = i * 7 % 40 - 20, y = i * 4 % 460;
        for (char16_t c : aLine) {
            vm::KelvarFont::CharData g = aFont.glyph(c);
            if (g.width == 0)
                continue;
            painter.drawPixmap(x, y, glyphs, g.offset, 0, g.width, aFont.getHeight());
            x += g.width;
        }
    }
}

const std::u16string kLine =
    u"THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS!?.:#&";

TUint32 pixelsDirectly(QImage& aImage)
{
    TUint32 sum = 0;
    for (uint32_t i = 0; i < uint32_t(kPixelCalls); ++i) {
        aImage.setPixel(int(i % 1000), int(i / 2000), 0xFF000000u | (i * 2654435761u));
        sum += aImage.pixel(int(i % 997), int(i / 2000));
    }
    return sum;
}

QImage pictureOf(const std::string& aProgram)
{
    QPixmap target(800, 480);
    target.fill(Qt::black);
    VmRun run;
    if (!run.start(aProgram))
        return QImage();
    run.draw(target);
    return target.toImage();
}

bool samePictures()
{
    QPixmap sprites(800, 480), text(800, 480);
    sprites.fill(Qt::black);
    text.fill(Qt::black);
    spritesDirectly(sprites, QPixmap::fromImage(spriteImage()));
    vm::KelvarFont font(fontImage());
    textDirectly(text, font, kLine);
    bool ok = true;
    if (pictureOf(kSpriteProgram) != sprites.toImage()) {
        std::fprintf(stderr, "BitmapDraw: the VM's sprites differ from the direct ones\n");
        ok = false;
    }
    if (pictureOf(kTextProgram) != text.toImage()) {
        std::fprintf(stderr, "BitmapDraw: the VM's text differs from the direct one\n");
        ok = false;
    }
    return ok;
}

void throughVm(benchmark::State& aState, const std::string& aProgram, int64_t aItems)
{
    VmRun run;
    if (!run.start(aProgram)) {
        aState.SkipWithError("the program did not start");
        return;
    }
    QPixmap target(800, 480);
    target.fill(Qt::black);
    for (auto _ : aState)
        run.draw(target);
    aState.SetItemsProcessed(aState.iterations() * aItems);
}

void BM_SpritesThroughVm(benchmark::State& state)
{
    throughVm(state, kSpriteProgram, kSprites);
}
BENCHMARK(BM_SpritesThroughVm)->Unit(benchmark::kMicrosecond);

void BM_SpritesDirectly(benchmark::State& state)
{
    QPixmap target(800, 480);
    target.fill(Qt::black);
    QPixmap sprite = QPixmap::fromImage(spriteImage());
    for (auto _ : state)
        spritesDirectly(target, sprite);
    state.SetItemsProcessed(state.iterations() * kSprites);
}
BENCHMARK(BM_SpritesDirectly)->Unit(benchmark::kMicrosecond);

void BM_GlyphsThroughVm(benchmark::State& state)
{
    throughVm(state, kTextProgram, kLines * kLineLength);
}
BENCHMARK(BM_GlyphsThroughVm)->Unit(benchmark::kMicrosecond);

void BM_GlyphsDirectly(benchmark::State& state)
{
    QPixmap target(800, 480);
    target.fill(Qt::black);
    vm::KelvarFont font(fontImage());
    for (auto _ : state)
        textDirectly(target, font, kLine);
    state.SetItemsProcessed(state.iterations() * kLines * kLineLength);
}
BENCHMARK(BM_GlyphsDirectly)->Unit(benchmark::kMicrosecond);

void BM_PixelsThroughVm(benchmark::State& state)
{
    throughVm(state, kPixelProgram, 2 * kPixelCalls);
}
BENCHMARK(BM_PixelsThroughVm)->Unit(benchmark::kMillisecond);

void BM_PixelsDirectly(benchmark::State& state)
{
    QImage image(kPixelSide, kPixelSide, QImage::Format_ARGB32);
    image.fill(0xFF000000);
    for (auto _ : state)
        benchmark::DoNotOptimize(pixelsDirectly(image));
    state.SetItemsProcessed(state.iterations() * 2 * kPixelCalls);
}
BENCHMARK(BM_PixelsDirectly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!samePictures())
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
