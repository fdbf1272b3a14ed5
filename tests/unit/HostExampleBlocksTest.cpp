// The bundled game in the real window (offscreen), with its pieces in a
// fixed order: keys and the pointer's buttons move, turn and drop them,
// full rows go and score, the high score is read, kept and written.
#ifdef MCB_HAVE_HOST

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

constexpr QRgb kWell = 0xFF0A0E18;
constexpr int kI = 0, kO = 1, kT = 2;  // pieces: I O T S Z J L

QString blocksDirectory()
{
    return QString(MCB_SOURCE_DIR) + "/examples/blocks";
}

// The middle of a piece's sprite in the sheet the game draws from.
QRgb tileColour(int aPiece)
{
    QImage tiles(blocksDirectory() + "/tiles.png");
    return tiles.pixel(aPiece * 22 + 11, 11) | 0xFF000000u;
}

// The middle of a cell of the well (10 x 20 cells of 22 pixels at 290, 20).
QRgb cell(const QImage& aImage, int aColumn, int aRow)
{
    return pixel(aImage, 290 + aColumn * 22 + 11, 20 + aRow * 22 + 11);
}

struct ExampleBlocks : HostFixture {
    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped())
            return;
        QDir assets(blocksDirectory());
        const QStringList names = assets.entryList({"*.png", "*.raw"}, QDir::Files);
        ASSERT_GE(names.size(), 10);
        for (const QString& name : names)
            ASSERT_TRUE(QFile::copy(assets.filePath(name), dir.filePath(name)));
    }

    int startGame(const std::string& aPieces)
    {
        if (!writeAll(path("pieces.txt"), aPieces))
            return -100;
        std::string source = readAll(blocksDirectory() + "/blocks.mcbs");
        EXPECT_FALSE(source.empty());
        return start(source);
    }
    void key(int aKey, const QString& aText = {})
    {
        QKeyEvent press(QEvent::KeyPress, aKey, Qt::NoModifier, aText);
        QCoreApplication::sendEvent(view.get(), &press);
        QKeyEvent release(QEvent::KeyRelease, aKey, Qt::NoModifier, aText);
        QCoreApplication::sendEvent(view.get(), &release);
    }
    void keys(int aKey, int aTimes)
    {
        for (int i = 0; i < aTimes; ++i)
            key(aKey);
    }
    void drop() { key(Qt::Key_Space, " "); }
    void tap(int aX, int aY)
    {
        QPointF p(aX, aY);
        QMouseEvent press(QEvent::MouseButtonPress, p, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, p, p, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &release);
    }
    // Five O pieces side by side (they enter at columns 4-5): two rows.
    void fillTwoRows()
    {
        keys(Qt::Key_Left, 4);
        drop();
        tap(600, 240);  // the < button, twice
        tap(600, 240);
        tap(720, 330);  // DROP
        drop();
        keys(Qt::Key_Right, 2);
        drop();
        keys(Qt::Key_Right, 4);
        drop();
    }
    // An I piece (entering flat at columns 3-6) turned upright (column 5)
    // and dropped into the column.
    void uprightI(int aColumn)
    {
        key(Qt::Key_Up);
        if (aColumn < 5)
            keys(Qt::Key_Left, 5 - aColumn);
        else
            keys(Qt::Key_Right, aColumn - 5);
        drop();
    }
};

}  // namespace

TEST_F(ExampleBlocks, PiecesMoveTurnDropAndClearRows)
{
    testing::internal::CaptureStderr();
    ASSERT_EQ(startGame("OOOOOT"), host::KRunGoesOn);
    QImage image = grab();
    EXPECT_EQ(cell(image, 4, 0), kWell);  // the title: no piece yet

    key(Qt::Key_Return, "\r");
    image = grab();
    EXPECT_EQ(cell(image, 4, 0), tileColour(kO));
    EXPECT_EQ(cell(image, 5, 1), tileColour(kO));
    EXPECT_EQ(cell(image, 3, 0), kWell);
    QRgb ghost = cell(image, 4, 19);  // where it would land, faint
    EXPECT_NE(ghost, kWell);
    EXPECT_NE(ghost, tileColour(kO));

    keys(Qt::Key_Left, 4);
    drop();
    image = grab();
    EXPECT_EQ(cell(image, 0, 18), tileColour(kO));
    EXPECT_EQ(cell(image, 1, 19), tileColour(kO));
    EXPECT_EQ(cell(image, 2, 19), kWell);
    EXPECT_EQ(cell(image, 4, 0), tileColour(kO));  // the next one

    tap(600, 240);
    tap(600, 240);
    tap(720, 330);
    image = grab();
    EXPECT_EQ(cell(image, 2, 18), tileColour(kO));
    EXPECT_EQ(cell(image, 3, 19), tileColour(kO));

    drop();
    keys(Qt::Key_Right, 2);
    drop();
    keys(Qt::Key_Right, 4);  // against the wall: the extra presses do nothing
    drop();
    processEventsFor(400);  // the flash of the cleared rows is over
    image = grab();
    for (int column = 0; column < 10; ++column) {  // empty but the next piece's ghost
        bool ghost = column >= 3 && column <= 5;
        for (int row : {18, 19}) {
            if (ghost)
                EXPECT_NE(cell(image, column, row), tileColour(kO)) << column;
            else
                EXPECT_EQ(cell(image, column, row), kWell) << column;
        }
    }

    // The T enters pointing up at columns 3-5; a turn points it right.
    EXPECT_EQ(cell(image, 4, 0), tileColour(kT));
    EXPECT_EQ(cell(image, 3, 1), tileColour(kT));
    key(Qt::Key_Up);
    image = grab();
    EXPECT_EQ(cell(image, 4, 2), tileColour(kT));
    EXPECT_EQ(cell(image, 5, 1), tileColour(kT));
    EXPECT_EQ(cell(image, 3, 1), kWell);
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);

    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("LOG: game started\nLOG: score 300\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("LOG: uncaught"), std::string::npos) << err;
}

TEST_F(ExampleBlocks, GameOverKeepsTheBetterScoreAndAnotherGameStarts)
{
    ASSERT_TRUE(writeAll(path("highscore.txt"), "250\n"));
    testing::internal::CaptureStderr();
    ASSERT_EQ(startGame("O"), host::KRunGoesOn);

    key(Qt::Key_Return, "\r");
    fillTwoRows();
    for (int i = 0; i < 10; ++i)  // ten O pieces fill columns 4-5 to the top
        drop();
    EXPECT_EQ(readAll(path("highscore.txt")), "300\n");
    drop();  // over: dropping does nothing
    key(Qt::Key_Return, "\r");
    QImage image = grab();
    EXPECT_EQ(cell(image, 4, 10), kWell);  // the full column went with the game
    EXPECT_NE(cell(image, 4, 19), tileColour(kO));
    EXPECT_EQ(cell(image, 4, 0), tileColour(kO));

    // A worse game leaves the file alone.
    for (int i = 0; i < 10; ++i)
        drop();
    EXPECT_EQ(readAll(path("highscore.txt")), "300\n");
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);

    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("LOG: high score 250\n"), std::string::npos) << err;
    EXPECT_NE(err.find("LOG: score 300\nLOG: game over 300\nLOG: high score saved\nLOG: game started\n"
                       "LOG: game over 0\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("LOG: uncaught"), std::string::npos) << err;
}

TEST_F(ExampleBlocks, FourRowsScoreMostAndTheLevelMultipliesThePoints)
{
    testing::internal::CaptureStderr();
    ASSERT_EQ(startGame("I"), host::KRunGoesOn);
    key(Qt::Key_Return, "\r");
    QImage image = grab();
    EXPECT_EQ(cell(image, 3, 0), tileColour(kI));
    EXPECT_EQ(cell(image, 6, 0), tileColour(kI));
    key(Qt::Key_Up);
    image = grab();
    EXPECT_EQ(cell(image, 5, 2), tileColour(kI));  // upright, its top above the well
    EXPECT_EQ(cell(image, 5, 3), kWell);
    EXPECT_EQ(cell(image, 4, 0), kWell);
    keys(Qt::Key_Up, 3);  // three more quarter turns: flat again
    for (int round = 0; round < 4; ++round)  // 40 pieces: 16 rows, four at a time
        for (int column = 0; column < 10; ++column)
            uprightI(column);
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);
    std::string err = testing::internal::GetCapturedStderr();
    // Level 2 from the tenth row: the fourth clear counts double.
    EXPECT_NE(err.find("LOG: score 800\nLOG: score 1600\nLOG: score 2400\nLOG: score 4000\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("LOG: game over"), std::string::npos) << err;
}

TEST_F(ExampleBlocks, APausedGameStandsStillUntilKeyOrTap)
{
    ASSERT_EQ(startGame("T"), host::KRunGoesOn);
    key(Qt::Key_Return, "\r");
    key(Qt::Key_P, "p");
    keys(Qt::Key_Down, 3);
    processEventsFor(1000);
    QImage image = grab();
    EXPECT_EQ(cell(image, 4, 0), tileColour(kT));  // neither the keys nor the timer moved it
    EXPECT_NE(pixel(image, 400, 200), pixel(image, 400, 100));  // the pause box over the well
    key(Qt::Key_P, "p");
    key(Qt::Key_Down);
    image = grab();
    EXPECT_EQ(cell(image, 4, 1), tileColour(kT));
    EXPECT_EQ(cell(image, 4, 0), kWell);

    machine().deliverBackground();  // out of sight: paused
    key(Qt::Key_Down);
    image = grab();
    EXPECT_EQ(cell(image, 4, 1), tileColour(kT));
    tap(100, 100);  // a tap goes on
    key(Qt::Key_Down);
    image = grab();
    EXPECT_EQ(cell(image, 4, 2), tileColour(kT));
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);
}

TEST_F(ExampleBlocks, FilesWithOtherTextAreReadForWhatTheyHold)
{
    ASSERT_TRUE(writeAll(path("highscore.txt"), "-5"));
    testing::internal::CaptureStderr();
    ASSERT_EQ(startGame("x1 o\n"), host::KRunGoesOn);  // only the o counts
    key(Qt::Key_Return, "\r");
    for (int i = 0; i < 3; ++i) {
        QImage image = grab();
        EXPECT_EQ(cell(image, 4, 0), tileColour(kO)) << i;
        EXPECT_EQ(cell(image, 3, 1), kWell) << i;
        drop();
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("LOG: high score 0\nLOG: pieces from pieces.txt\n"), std::string::npos) << err;
}

#endif  // MCB_HAVE_HOST
