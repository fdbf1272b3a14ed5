// Graphics containers and their primitives, Drawable records, and the
// Graphics and Screen groups seen from bytecode.
#ifdef MCB_HAVE_HOST

#include <climits>

#include "BitmapContainer.h"
#include "Drawable.h"
#include "GraphicsContainer.h"
#include "HostTestSupport.h"
#include "ObjectModel.h"

using namespace hosttest;
using namespace vm;

namespace {

std::string raisedText(const std::function<void()>& aWork)
{
    try {
        aWork();
    } catch (const ErrorHandlingException&) {
        std::string text = toLatin1(pendingError().text);
        clearPendingError();
        return text;
    }
    return "none";
}

QRgb at(const QPixmap& aPixmap, int aX, int aY)
{
    return aPixmap.toImage().pixel(aX, aY) | 0xFF000000u;
}

struct HostGraphicsUnits : ::testing::Test {
    void SetUp() override
    {
        if (!ensureApplication())
            GTEST_SKIP() << "another application object exists";
    }
};

}  // namespace

TEST_F(HostGraphicsUnits, ContainerPaintsAliasedWithAFortyPixelFontAndClampsWildCoordinates)
{
    QPixmap pixmap(40, 30);
    {
        GraphicsContainer c(&pixmap);
        EXPECT_TRUE(c.isActive());
        EXPECT_EQ(GraphicsContainer::openOn(&pixmap), 1);
        EXPECT_EQ(c.qpainter().font().pixelSize(), 40);
        EXPECT_FALSE(c.qpainter().testRenderHint(QPainter::Antialiasing));
        EXPECT_FALSE(c.qpainter().testRenderHint(QPainter::SmoothPixmapTransform));
        c.clear(0xFF0000FF);
        c.fillRect(5, 5, 10, 10, 0xFFFF0000);
        c.drawLine(0, 20, 39, 20, 0xFF00FF00);
        c.fillRect(-2000000000, 0, 2000000010, 2, 0xFFFFFF00);  // covers x < 10
        c.fillRect(35, 25, INT_MAX, INT_MAX, 0xFFFF00FF);
        c.fillRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0xFFFFFFFF);  // ends at -1: invisible
        c.drawLine(-2000000000, 28, 2000000000, 28, 0xFF00FFFF);
        c.drawLine(INT_MIN, INT_MAX, INT_MAX, INT_MAX, 0xFF000000);  // far below: nothing
        c.end();
        EXPECT_FALSE(c.isActive());
        EXPECT_EQ(GraphicsContainer::openOn(&pixmap), 0);
        c.fillRect(0, 0, 40, 30, 0xFFFFFFFF);  // ended: nothing
    }
    EXPECT_EQ(at(pixmap, 5, 5), 0xFFFF0000u);
    EXPECT_EQ(at(pixmap, 14, 14), 0xFFFF0000u);
    EXPECT_EQ(at(pixmap, 15, 15), 0xFF0000FFu);
    EXPECT_EQ(at(pixmap, 39, 20), 0xFF00FF00u);
    EXPECT_EQ(at(pixmap, 9, 1), 0xFFFFFF00u);
    EXPECT_EQ(at(pixmap, 10, 1), 0xFF0000FFu);
    EXPECT_EQ(at(pixmap, 36, 26), 0xFFFF00FFu);
    EXPECT_EQ(at(pixmap, 34, 26), 0xFF0000FFu);
    EXPECT_EQ(at(pixmap, 0, 28), 0xFF00FFFFu);
    EXPECT_EQ(at(pixmap, 39, 28), 0xFF00FFFFu);

    // A diagonal between the extremes crosses the device where it should.
    QPixmap diagonal(10, 10);
    diagonal.fill(Qt::black);
    GraphicsContainer(&diagonal).drawLine(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0xFFFFFFFF);
    EXPECT_EQ(at(diagonal, 5, 5), 0xFFFFFFFFu);
    EXPECT_EQ(at(diagonal, 5, 6), 0xFF000000u);

    // Clear blends like any fill: half-transparent white over black.
    QPixmap blend(2, 2);
    blend.fill(Qt::black);
    GraphicsContainer(&blend).clear(0x80FFFFFF);
    QRgb mixed = at(blend, 0, 0);
    EXPECT_NEAR(qRed(mixed), 128, 2);

    // Every container open on a device can be closed at once.
    QPixmap shared(4, 4);
    GraphicsContainer a(&shared), b(&pixmap);
    GraphicsContainer::endPaintingOn(&shared);
    EXPECT_FALSE(a.isActive());
    EXPECT_TRUE(b.isActive());
}

TEST_F(HostGraphicsUnits, BitmapContainersNeedAtLeastOnePixel)
{
    EXPECT_EQ(raisedText([] { GraphicsContainer c(std::make_shared<QPixmap>()); }),
              "VMException: GraphicsContainer: invalid bitmap");
    EXPECT_EQ(raisedText([] { GraphicsContainer c(std::make_shared<QPixmap>(0, 5)); }),
              "VMException: GraphicsContainer: invalid bitmap");
    auto one = std::make_shared<QPixmap>(1, 1);
    {
        GraphicsContainer c(one);
        EXPECT_TRUE(c.isActive());
        EXPECT_EQ(one.use_count(), 2);  // the container shares the pixmap
        c.clear(0xFF123456);
    }
    EXPECT_EQ(one.use_count(), 1);
    EXPECT_EQ(at(*one, 0, 0), 0xFF123456u);
}

TEST_F(HostGraphicsUnits, DrawableAccessorsCheckTheKind)
{
    QPixmap pixmap(4, 4);  // outlives the heap and its containers
    VirtualMachine machine;
    VMHeap& heap = machine.heap();
    VMSpace& space = machine.space();

    Addr container = newGraphicsContainer(heap, &pixmap);
    Addr screen = createGraphicsDrawable(heap, container);
    EXPECT_EQ(heap.gcCodeOf(screen), GC_CODE_DRAWABLE);
    EXPECT_EQ(heap.payloadSize(screen), 12u);
    EXPECT_EQ(getGraphics(heap, screen), heap.objectAs<GraphicsContainer>(container));
    EXPECT_EQ(raisedText([&] { getBitmap(heap, screen); }), "VMException: Invalid typeid on bitmap");
    EXPECT_EQ(raisedText([&] { setBitmap(heap, screen, 0); }), "VMException");
    EXPECT_EQ(raisedText([&] { releaseGraphics(heap, screen); }), "VMException: Invalid bitmap handle");
    EXPECT_EQ(space.rawWord(screen), 1);  // unchanged by the refusals

    // Bytecode may rewrite the record: a bad kind or container is refused.
    space.setRawWord(screen, 3);
    EXPECT_EQ(raisedText([&] { getGraphics(heap, screen); }), "VMException: Invalid object type ID");
    space.setRawWord(screen, 1);
    space.setRawWord(screen + 4, Word(screen));
    EXPECT_EQ(raisedText([&] { getGraphics(heap, screen); }), "VMException: Invalid object");
    space.setRawWord(screen + 4, 0);
    EXPECT_EQ(getGraphics(heap, screen), nullptr);

    // Kind 2: no pixels, no container; with pixels one is made and kept.
    Addr empty = createBitmapDrawable(heap, 0);
    EXPECT_EQ(getGraphics(heap, empty), nullptr);
    EXPECT_EQ(getBitmap(heap, empty), 0u);
    Addr bitmapBlock = heap.construct<BitmapContainer>(BitmapContainer::kBlockSize, GC_CODE_NATIVE, 8, 8);
    setBitmap(heap, empty, bitmapBlock);
    EXPECT_EQ(getBitmap(heap, empty), bitmapBlock);
    GraphicsContainer* first = getGraphics(heap, empty);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(getGraphics(heap, empty), first);
    EXPECT_TRUE(first->isActive());
    releaseGraphics(heap, empty);
    EXPECT_FALSE(first->isActive());
    EXPECT_EQ(space.rawWord(empty + 4), 0);
    GraphicsContainer* second = getGraphics(heap, empty);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isActive());
    releaseGraphics(heap, empty);
    releaseGraphics(heap, empty);  // nothing left to release
}

namespace {

struct HostGraphics : HostFixture {};

const std::string kPainter = std::string(R"(
.module "painter"
.class App
.map plain
.map draw params 2 refs 0 1
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
draw:                           ; R-2 app, R-1 canvas
    ldslot.s -2
    push 0xFF000080
    native Graphics 8           ; navy
    ldslot.s -2
    push 10
    push 20
    push 30
    push 40
    push 0xFFFF0000
    native Graphics 4           ; red (10, 20) .. (39, 59)
    ldslot.s -2
    push 100
    push 5
    push 199
    push 5
    push 0xFF00FF00
    native Graphics 5           ; green row 5, x 100 .. 199
    ldzero                      ; a graphics object without a record
    box
    push 0
    push 0
    push 800
    push 480
    push 0xFFFFFFFF
    native Graphics 4
    ldzero
    box
    push 0xFFFFFFFF
    native Graphics 8
    ldslot.s -2                 ; opcode 9: checked, nothing drawn
    ldslot.s -3
    ldslot.s -4
    ldslot.s -5
    push 0
    native Graphics 9
    ret 0, 3
)") + kExceptionMethods;

}  // namespace

TEST_F(HostGraphics, DrawEventsPaintTheBackBufferThroughTheGraphicsGroup)
{
    ASSERT_EQ(start(kPainter), host::KRunGoesOn);
    QImage image = grab();
    ASSERT_EQ(image.size(), QSize(800, 480));
    EXPECT_EQ(pixel(image, 0, 0), 0xFF000080u);
    EXPECT_EQ(pixel(image, 10, 20), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 39, 59), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 40, 60), 0xFF000080u);
    EXPECT_EQ(pixel(image, 100, 5), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 199, 5), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 200, 5), 0xFF000080u);
    EXPECT_EQ(pixel(image, 799, 479), 0xFF000080u);
    // The draw event's container is gone with its invocation.
    EXPECT_EQ(GraphicsContainer::openOn(&view->backBufferPixmap()), 0);
}

TEST_F(HostGraphics, GraphicsErrorsReachBytecode)
{
    std::string source = R"(
.module "errors"
.map plain
.static "::global::init" done map plain
.static "main" main map plain
.code
done:
    ret 0, 1
)";
    std::string body = "main:\n";
    int label = 0;
    auto attempt = [&](const std::string& code) {
        std::string l = "c" + std::to_string(label++);
        body += "    try any " + l + "\n" + code + "    handlers -1\n" + l +
                ":\n    field.s 2\n    ldind\n    native Debug 1\n";
    };
    for (int op : {0, 11, 12, -1})
        attempt("    native Graphics " + std::to_string(op) + "\n");
    attempt("    ldzero\n    ldzero\n    ldzero\n    ldzero\n    ldzero\n    native Graphics 9\n");
    attempt("    push 1\n    push 1\n    ldzero\n    push 1\n    ldzero\n    native Graphics 9\n");
    attempt("    ldzero\n    push 1\n    push 1\n    push 1\n    push 1\n    push 1\n    native Graphics 4\n");
    attempt("    push 3\n    box\n    box\n    push 1\n    native Graphics 8\n");  // a record of kind 3
    body += "    ret 0, 1\n";
    testing::internal::CaptureStderr();
    ASSERT_EQ(start(source + body + kExceptionMethods), host::KRunGoesOn);
    std::string err = testing::internal::GetCapturedStderr();
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t nl; (nl = err.find('\n', from)) != std::string::npos; from = nl + 1)
        lines.push_back(err.substr(from, nl - from));
    ASSERT_EQ(lines.size(), 8u) << err;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(lines[i].rfind("LOG: VMException: Graphics:", 0), 0u) << lines[i];
    EXPECT_NE(lines[0], lines[1]);  // the position follows the label
    EXPECT_EQ(lines[4], "LOG: NullPointerException: NULL pointer");
    EXPECT_EQ(lines[5], "LOG: NullPointerException: NULL pointer");
    EXPECT_EQ(lines[6], "LOG: NullPointerException: NULL pointer");
    EXPECT_EQ(lines[7].rfind("LOG: VMException: Invalid", 0), 0u) << lines[7];
}

TEST_F(HostGraphics, ScreenGroupForwardsToTheHost)
{
    testing::internal::CaptureStderr();
    ASSERT_EQ(start(std::string(R"(
.module "screen"
.globals 1
.class App
.map plain
.static "::global::init" done map plain
.static "main" main map plain
.code
done:
    ret 0, 1
main:
    native Screen 2
    itos
    native Debug 1
    itos
    native Debug 1
    push 1
    native Screen 3
    native Screen 4
    itos
    native Debug 1
    native Screen 2
    itos
    native Debug 1
    itos
    native Debug 1
    push 5
    push 6
    push 7
    push 8
    native Screen 6
    native Screen 1
    ldtrue
    native Screen 5
    globals
    new 1, 1
    stind
    globals
    ldind
    native Screen 7
    globals
    ldind
    native Screen 7
    globals
    ldind
    native Screen 8
    native Screen 9
    ret 0, 1
)") + kExceptionMethods),
              host::EExitTerminated);
    std::string err = testing::internal::GetCapturedStderr();
    const std::string expected = "LOG: 480\nLOG: 800\nLOG: 1\nLOG: 800\nLOG: 480\nLOG: uncaught\nLOG: VMException: Screen:";
    EXPECT_EQ(err.substr(0, expected.size()), expected) << err;
    EXPECT_EQ(view->getOrientation(), 1);
    Addr listener = Addr(machine().space().rawWord(Addr(machine().globals())));
    const auto& roots = machine().heap().roots();
    EXPECT_EQ(std::count(roots.begin(), roots.end(), listener), 1);
}

#endif  // MCB_HAVE_HOST
