// The bundled demo application, run in the real window (offscreen): what it
// draws, and how it answers keys, the pointer and its timer.
#ifdef MCB_HAVE_HOST

#include <QKeyEvent>
#include <QMouseEvent>

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

constexpr QRgb kSky = 0xFF102040, kGround = 0xFF1E5020, kHorizon = 0xFF80C080, kGrid = 0xFF405080,
               kRed = 0xFFE02020, kGreen = 0xFF20C040, kWhite = 0xFFFFFFFF, kBar = 0xFFFFD000;

struct ExampleApp : HostFixture {
    void key(int aKey, const QString& aText)
    {
        QKeyEvent press(QEvent::KeyPress, aKey, Qt::NoModifier, aText);
        QCoreApplication::sendEvent(view.get(), &press);
        QKeyEvent release(QEvent::KeyRelease, aKey, Qt::NoModifier, aText);
        QCoreApplication::sendEvent(view.get(), &release);
    }
    void press(int aX, int aY)
    {
        QPointF p(aX, aY);
        QMouseEvent event(QEvent::MouseButtonPress, p, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &event);
    }
};

}  // namespace

TEST_F(ExampleApp, DrawsItsSceneAndAnswersKeysPointerAndTimer)
{
    std::string source = readAll(QString(MCB_SOURCE_DIR) + "/examples/demo.mcbs");
    ASSERT_FALSE(source.empty());
    for (const char* image : {"sprite.png", "font.png"})
        ASSERT_TRUE(QFile::copy(QString(MCB_SOURCE_DIR) + "/examples/" + image, path(image)));
    testing::internal::CaptureStderr();
    ASSERT_EQ(start(source), host::KRunGoesOn);

    QImage image = grab();
    EXPECT_EQ(pixel(image, 750, 300), kSky);
    EXPECT_EQ(pixel(image, 450, 450), kGround);
    EXPECT_EQ(pixel(image, 450, 400), kHorizon);
    EXPECT_EQ(pixel(image, 300, 200), kGrid);
    EXPECT_EQ(pixel(image, 120, 300), kRed);      // the box at (100, 280)
    EXPECT_EQ(pixel(image, 400, 240), kWhite);    // the marker in the middle
    EXPECT_EQ(pixel(image, 435, 240), kWhite);    // its cross
    EXPECT_EQ(pixel(image, 30, 30), kBar);        // the bar at phase 0
    EXPECT_EQ(pixel(image, 22, 135), kBar);       // bitmap-font text: the stroke of its B
    EXPECT_EQ(pixel(image, 26, 135), kSky);
    EXPECT_EQ(pixel(image, 660, 60), 0xFF000080u);  // the tiles' first pixel, not yet scrolled
    EXPECT_EQ(pixel(image, 692, 60), 0xFF000080u);  // the next tile
    EXPECT_EQ(pixel(image, 661, 60), 0xFF080080u);
    EXPECT_NE(pixel(image, 52, 202), kSky);        // the sprite
    EXPECT_EQ(pixel(image, 18, 202), kSky);
    int textPixels = 0;                           // system-font text at (20, 70)
    for (int y = 70; y < 120; ++y)
        for (int x = 20; x < 400; ++x)
            textPixels += pixel(image, x, y) != kSky && pixel(image, x, y) != kGrid;
    EXPECT_GT(textPixels, 300);

    key(Qt::Key_Right, "");
    key(Qt::Key_C, "c");
    press(600, 100);
    image = grab();
    EXPECT_EQ(pixel(image, 185, 300), kGreen);  // moved right by 20, new colour
    EXPECT_EQ(pixel(image, 105, 300), kSky);
    EXPECT_EQ(pixel(image, 600, 100), kWhite);
    EXPECT_EQ(pixel(image, 395, 240), kSky);    // the marker left

    // The timer moves the bar.
    processEventsFor(300);
    image = grab();
    EXPECT_NE(pixel(image, 0, 30), kBar);
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);

    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("LOG: demo started (caf\xE9)\nLOG: first draw\n"
                        "LOG: key\nLOG: 16777220\n"
                        "LOG: colour\nLOG: 1\nLOG: key\nLOG: 67\n"
                        "LOG: pointer pressed\nLOG: 600\nLOG: 100\n",
                        0),
              0u)
        << err;
    std::string log = readAll(path("demo.log"));
    EXPECT_EQ(log.rfind("LOG: demo started (caf\xC3\xA9)\nLOG: first draw\n", 0), 0u) << log;
}

#endif  // MCB_HAVE_HOST
