// Bitmaps, fonts and drawing driven by a bytecode program with a full
// collection at every call and native call: every object a native makes
// must survive until the program drops it.
#include "GraphicsTestSupport.h"

#ifdef MCB_HAVE_HOST

#include "VmTestSupport.h"

using namespace gfxtest;

namespace {

// Globals: 0 a bitmap 4 x 3, 1 a bitmap font, 2 the system font, 3 a copy,
// 4 a sprite loaded from a file.
const std::string kProgram = std::string(R"(
.module "drawing"
.globals 5
.map plain
.static "::global::init" done map plain
.static "main" main map plain
.code
done:
    ret 0, 1
main:
    globals                     ; every global a fresh object
    ldzero
    box
    stind
    globals
    field.s 3
    ldzero
    box
    stind
    globals
    field.s 4
    ldzero
    box
    stind

    globals
    ldind
    push 4
    push 3
    push 0xFF000080
    native Bitmap 1
    globals
    ldind
    push 1
    push 2
    push 0x11223344
    native Bitmap 9
    globals
    ldind
    push 1
    push 2
    native Bitmap 7
    itos
    native Debug 1
    globals
    ldind
    native Bitmap 8             ; width, height
    itos
    native Debug 1
    itos
    native Debug 1

    globals                     ; red square through a painter on the bitmap
    ldind
    push 0
    push 0
    push 2
    push 2
    push 0xFFFF0000
    native Graphics 4
    globals
    ldind
    push 0
    push 0
    native Bitmap 7
    itos
    native Debug 1

    globals                     ; a copy, doubled
    field.s 3
    ldind
    globals
    ldind
    native Bitmap 6
    globals
    field.s 3
    ldind
    push 8
    push 6
    native Bitmap 10
    globals
    field.s 3
    ldind
    native Bitmap 8
    itos
    native Debug 1
    itos
    native Debug 1
    globals
    field.s 3
    ldind
    push 3
    push 3
    native Bitmap 7
    itos
    native Debug 1

    globals                     ; fonts
    field.s 2
    native System 10
    stind
    globals
    field.s 2
    ldind
    native Font 2
    push 0
    gt
    itos
    native Debug 1
    globals
    field.s 1
    ldstr "font.png"
    native System 11
    stind
    globals
    field.s 1
    ldind
    ldstr "!!"
    native Font 4
    itos
    native Debug 1
    globals
    field.s 1
    ldind
    ldstr "!!!"
    push 9
    native Font 6
    itos
    native Debug 1

    globals                     ; text in both fonts
    ldind
    push 0xFF000000
    native Graphics 8
    globals
    ldind
    ldstr "!"
    push 0
    push 0
    push 0xFF00FF00
    globals
    field.s 1
    ldind
    native Graphics 2
    globals
    ldind
    push 1
    push 1
    native Bitmap 7
    itos
    native Debug 1
    globals
    ldind
    ldstr "xy"
    push 1
    push 1
    push 2
    push 2
    push 0xFFFFFFFF
    globals
    field.s 2
    ldind
    native Graphics 3

    globals                     ; a sprite from a file, blitted, turned, tiled
    field.s 4
    ldind
    ldstr "sprite.png"
    native Bitmap 3
    globals
    field.s 4
    ldind
    push 0
    push 0
    native Bitmap 7
    itos
    native Debug 1
    globals
    ldind
    globals
    field.s 4
    ldind
    push 2
    push 1
    push 255
    native Graphics 1
    globals
    ldind
    push 2
    push 1
    native Bitmap 7
    itos
    native Debug 1
    globals
    ldind
    globals
    field.s 4
    ldind
    push 1
    push 1
    push2 0, 0                  ; angle 0
    push2 0, 1                  ; scales 1
    push2 0, 1
    push 255
    native Graphics 10
    globals
    ldind
    globals
    field.s 4
    ldind
    push 0
    push 0
    push 4
    push 3
    push 1
    push 1
    push 255
    native Graphics 6
    globals
    ldind
    globals
    field.s 3
    ldind
    push 0
    push 0
    push 0
    push 0
    push 1
    push 1
    push 255
    native Graphics 7
    globals
    ldind
    push 0
    push 0
    native Bitmap 7
    itos
    native Debug 1
    globals
    ldind
    push 3
    push 2
    native Bitmap 7
    itos
    native Debug 1

    globals                     ; through bytes: png, decoded as a bitmap and as a font
    field.s 3
    ldind
    globals
    ldind
    push 2
    native Bitmap 13
    native Bitmap 4
    globals
    field.s 3
    ldind
    push 3
    push 2
    native Bitmap 7
    itos
    native Debug 1
    globals
    ldind
    push 2
    native Bitmap 13
    native System 12
    native Font 2
    itos
    native Debug 1

    try any c0                  ; errors reach the program
    globals
    ldind
    push 9
    push 9
    native Bitmap 7
    handlers -1
c0:
    field.s 2
    ldind
    native Debug 1
    try any c1
    ldzero
    box
    push -1
    push 1
    push 0
    native Bitmap 1
    handlers -1
c1:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
)") + kExceptionPrelude;

struct VmGraphicsProgram : NativeFixture {};

}  // namespace

TEST_F(VmGraphicsProgram, EveryObjectSurvivesCollectionsAtEveryCall)
{
    FontImage font(12, 10);
    font.marker(5);
    font.marker(9);
    for (int y = 0; y < 9; ++y)
        font.set(6, y, 255);
    host.files["font.png"] = encoded(font.image, "png");
    QImage sprite(2, 2, QImage::Format_ARGB32);
    sprite.fill(0xFF0000FF);
    host.files["sprite.png"] = encoded(sprite, "png");

    machine->setGcStress(true);
    machine->top = -1;
    std::string outcome = runProgram(assembleOrFail(kProgram), host, *machine);
    machine->push(kSentinel);
    EXPECT_EQ(outcome, "ok");
    const std::vector<std::string> expected = {
        "287454020", "3", "4",            // the pixel, height, width
        "-65536",                         // red from the painter
        "6", "8", "-65536",               // the doubled copy
        "-1", "8", "2",                   // font measures
        "-16711936",                      // green text
        "-16776961", "-16776961",         // the sprite, blitted
        "-65536", "-16776961",            // part of the copy; the tiles
        "-16776961", "2",                 // decoded again; a font 3 pixels high
        "InvalidArgumentException: Position (9, 9) is outside the bounds of the bitmap: (4, 3)",
        "InvalidArgumentException: Width should be non-negative",
    };
    EXPECT_EQ(host.logs, expected);
}

#endif  // MCB_HAVE_HOST

// Qt aborts the process when a pixmap or font is made without a
// QGuiApplication: the groups refuse instead. Runs in a fresh child process,
// where no application has been made.
TEST(VmGraphicsWithoutApplication, BitmapsAndFontsRaiseInsteadOfAborting)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (QCoreApplication::instance())
                std::exit(2);
            vm::VirtualMachine machine;
            auto refused = [&](int aGroup, int aFunction, std::initializer_list<vm::Word> aOperands) {
                machine.top = -1;
                for (vm::Word w : aOperands)
                    machine.push(w);
                return errorOf([&] { machine.callNative(aGroup, aFunction); }) ==
                       Pair(13, "UnsupportedFeatureException: Graphics are not available");
            };
            vm::Word target = vm::Word(vm::newBox(machine.heap(), 0));
            bool ok = refused(BITMAP, 1, {target, 4, 4, 0}) && refused(BITMAP, 8, {target}) &&
                      refused(SYSTEM, 10, {}) && refused(SYSTEM, 12, {0});
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
