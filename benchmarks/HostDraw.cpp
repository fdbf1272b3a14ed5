// One draw event of 2 000 filled rectangles and 2 000 lines on an 800 x 480
// back buffer: through the VM (a draw delivery whose bytecode loop calls
// Graphics 4 and 5, on a graphics container as the host makes for a paint),
// and the same drawing done directly with QPainter in C++. The two pictures
// must be identical; a mismatch fails the run. Offscreen platform.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <memory>
#include <vector>

#include "Assembler.h"
#include "Drawable.h"
#include "GraphicsContainer.h"
#include "HeadlessHost.h"
#include "IO/CAppsFileReader.h"
#include "VirtualMachine.h"

namespace {

constexpr int kShapes = 2000;

// Draw: R-2 app, R-1 canvas; after the local (top = R + 1) with d words
// pushed: canvas -3-d, i -1-d.
const char* const kProgram = R"(
.module "bench-draw"
.class App
.map plain
.map draw params 2 locals 1 refs 0 1
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.draw to<*canvas>" impl App draw map draw
.code
done:
    ret 0, 1
main:
    new 1, 1
    dup
    setclass App
    native System 5
    ret 0, 1
draw:
    adjust.s 1
loop:
    ldslot.s -3                 ; canvas
    ldslot.s -2                 ; x = i * 37 % 760
    push 37
    mul
    push 760
    rem
    ldslot.s -3                 ; y = i * 53 % 440
    push 53
    mul
    push 440
    rem
    push 40
    push 30
    ldslot.s -6                 ; colour
    push 40503
    mul
    push 0xFFFFFF
    and
    push 0xFF000000
    or
    native Graphics 4
    ldslot.s -3                 ; canvas
    ldslot.s -2                 ; x1 = i * 13 % 800
    push 13
    mul
    push 800
    rem
    ldslot.s -3                 ; y1 = i * 29 % 480
    push 29
    mul
    push 480
    rem
    ldslot.s -4                 ; x2 = i * 71 % 800
    push 71
    mul
    push 800
    rem
    ldslot.s -5                 ; y2 = i * 43 % 480
    push 43
    mul
    push 480
    rem
    ldslot.s -6                 ; colour
    push 2654435
    mul
    push 0xFFFFFF
    and
    push 0xFF000000
    or
    native Graphics 5
    ldaddr.s -1
    inc.i
    ldslot.s -1
    push 2000
    ge
    jz.s loop
    ret 1, 4
)";

void drawDirectly(QPixmap& aPixmap)
{
    QPainter painter(&aPixmap);
    QFont font = painter.font();
    font.setPixelSize(40);
    painter.setFont(font);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (uint32_t i = 0; i < kShapes; ++i) {
        uint32_t fill = 0xFF000000u | ((i * 40503u) & 0xFFFFFFu);
        painter.fillRect(QRect(int(i * 37 % 760), int(i * 53 % 440), 40, 30), QColor::fromRgba(fill));
        uint32_t stroke = 0xFF000000u | ((i * 2654435u) & 0xFFFFFFu);
        painter.setPen(QPen(QColor::fromRgba(stroke), 0));
        painter.drawLine(int(i * 13 % 800), int(i * 29 % 480), int(i * 71 % 800), int(i * 43 % 480));
    }
}

struct VmDrawing {
    vm::HeadlessHost host;
    std::unique_ptr<vm::VirtualMachine> machine;

    bool start()
    {
        std::vector<uint8_t> bytes = mcb::assemble(kProgram, "bench-draw");
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

bool samePictures()
{
    QPixmap direct(800, 480), viaVm(800, 480);
    direct.fill(Qt::black);
    viaVm.fill(Qt::black);
    drawDirectly(direct);
    VmDrawing drawing;
    if (!drawing.start())
        return false;
    drawing.draw(viaVm);
    return direct.toImage() == viaVm.toImage();
}

void BM_DrawThroughVm(benchmark::State& state)
{
    VmDrawing drawing;
    if (!drawing.start()) {
        state.SkipWithError("the program did not start");
        return;
    }
    QPixmap pixmap(800, 480);
    pixmap.fill(Qt::black);
    for (auto _ : state)
        drawing.draw(pixmap);
    state.SetItemsProcessed(state.iterations() * 2 * kShapes);
}
BENCHMARK(BM_DrawThroughVm)->Unit(benchmark::kMicrosecond);

void BM_DrawDirectly(benchmark::State& state)
{
    QPixmap pixmap(800, 480);
    pixmap.fill(Qt::black);
    for (auto _ : state)
        drawDirectly(pixmap);
    state.SetItemsProcessed(state.iterations() * 2 * kShapes);
}
BENCHMARK(BM_DrawDirectly)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!samePictures()) {
        std::fprintf(stderr, "HostDraw: the VM's picture differs from the direct one\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
