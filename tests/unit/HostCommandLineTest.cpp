// The runtime's command line, settings file and application directory.
#ifdef MCB_HAVE_HOST

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "CommandLine.h"

using cli::Options;
using cli::WindowMode;

namespace {

// The options of the arguments, or the parse mistake in aError.
Options parse(std::vector<std::string> aArguments, std::string* aError = nullptr)
{
    Options options;
    std::optional<std::string> error = cli::parseArguments(aArguments, options);
    if (aError)
        *aError = error.value_or("");
    else
        EXPECT_FALSE(error) << *error;
    return options;
}

std::string mistake(std::vector<std::string> aArguments)
{
    std::string error;
    parse(std::move(aArguments), &error);
    return error;
}

}  // namespace

TEST(HostCommandLine, NoArgumentsMeanTheDeviceDefaults)
{
    Options o = parse({});
    EXPECT_FALSE(o.help || o.version || o.autoDirectory || o.portrait || o.headless || o.tiltKeys);
    EXPECT_FALSE(o.tiltReading);
    EXPECT_EQ(o.application, "");
    EXPECT_EQ(o.window, WindowMode::Default);
    EXPECT_FALSE(o.scale || o.keymap || o.position || o.after || o.every || o.runFor);
    EXPECT_EQ(o.screenshot, "");
    EXPECT_EQ(o.frames, "");
    EXPECT_EQ(o.events, "");
    EXPECT_EQ(o.trace, "");
    EXPECT_FALSE(o.location || o.memoryLimit);
    EXPECT_EQ(o.locationNmea, "");
}

TEST(HostCommandLine, EveryOptionSetsItsSetting)
{
    Options o = parse({"--windowed", "--scale", "3", "--portrait", "--keymap", "keys.txt", "--window-position",
                       "-20,40", "--headless", "--screenshot", "s.png", "--after", "250", "--frames", "out",
                       "--every", "40", "--run-for", "5000", "--events", "e.txt", "--trace", "run.trace", "app"});
    EXPECT_EQ(o.window, WindowMode::Windowed);
    EXPECT_EQ(o.scale, 3);
    EXPECT_TRUE(o.portrait);
    EXPECT_EQ(o.keymap, "keys.txt");
    EXPECT_EQ(o.position, (cli::Position{-20, 40}));
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.screenshot, "s.png");
    EXPECT_EQ(o.after, 250);
    EXPECT_EQ(o.frames, "out");
    EXPECT_EQ(o.every, 40);
    EXPECT_EQ(o.runFor, 5000);
    EXPECT_EQ(o.events, "e.txt");
    EXPECT_EQ(o.trace, "run.trace");
    EXPECT_EQ(o.application, "app");

    Options keys = parse({"--tilt", "keys"});
    EXPECT_TRUE(keys.tiltKeys);
    EXPECT_FALSE(keys.tiltReading);
    Options fixed = parse({"--tilt", "keys", "--tilt=0, 500,-866"});
    EXPECT_FALSE(fixed.tiltKeys);
    EXPECT_EQ(fixed.tiltReading, (cli::Reading3{0, 500, -866}));
    EXPECT_EQ(parse({"--fullscreen"}).window, WindowMode::Fullscreen);
    EXPECT_EQ(parse({"--fullscreen", "--windowed"}).window, WindowMode::Windowed);  // the last one counts
    EXPECT_TRUE(parse({"--auto"}).autoDirectory);
    EXPECT_TRUE(parse({"--headless", "--auto"}).autoDirectory);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_EQ(parse({"dir/index.mcb"}).application, "dir/index.mcb");
    // "--" ends the options.
    EXPECT_EQ(parse({"--", "--odd-name"}).application, "--odd-name");
}

TEST(HostCommandLine, ScalesOneToSixteenOrFit)
{
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(parse({"--scale", std::to_string(k)}).scale, k);
        EXPECT_EQ(parse({"--scale=" + std::to_string(k)}).scale, k);
    }
    EXPECT_EQ(parse({"--scale", "16"}).scale, 16);
    EXPECT_EQ(parse({"--scale", "fit"}).scale, 0);
    EXPECT_EQ(parse({"--scale", "0x2"}).scale, 2);
    for (const char* bad : {"0", "17", "-1", "2x", "", "Fit", "1.5"})
        EXPECT_EQ(mistake({"--scale", bad}),
                  std::string("mcbrun: --scale: '") + bad + "' is not a whole number from 1 to 16 or 'fit'")
            << bad;
}

TEST(HostCommandLine, LocationsAreDegreesWithAnOptionalAltitude)
{
    EXPECT_EQ(parse({"--location", "60.25,-24.5"}).location, (cli::Location{60.25, -24.5, 0}));
    EXPECT_EQ(parse({"--location=-90,180,-12.5"}).location, (cli::Location{-90, 180, -12.5}));
    EXPECT_EQ(parse({"--location", " +1. , .5 ,100000"}).location, (cli::Location{1, 0.5, 100000}));
    Options nmea = parse({"--location-nmea", "trip.nmea"});
    EXPECT_EQ(nmea.locationNmea, "trip.nmea");
    EXPECT_FALSE(nmea.location);
    for (const char* bad : {"91,0", "-90.001,0", "0,181", "0,-180.5", "1", "1,2,3,4", "a,b", "1e3,2", "0x10,2", "",
                            "1,,2", "nan,0", "1,2,100001", "1;2", "1,2,"})
        EXPECT_EQ(mistake({"--location", bad}),
                  std::string("mcbrun: --location: '") + bad +
                      "' is not LAT,LON[,ALT] (latitude -90 to 90 and longitude -180 to 180 degrees, altitude "
                      "-100000 to 100000 metres)")
            << bad;
    EXPECT_EQ(mistake({"--location-nmea="}), "mcbrun: --location-nmea: '' is not a file name");
    EXPECT_EQ(mistake({"--location", "1,2", "--location-nmea", "t.nmea"}),
              "mcbrun: --location and --location-nmea exclude each other");
}

TEST(HostCommandLine, MemoryLimitsAreSizesFromOneMebibyteToFourGibibytes)
{
    EXPECT_EQ(parse({"--memory-limit", "512M"}).memoryLimit, 512ull << 20);
    EXPECT_EQ(parse({"--memory-limit=64MiB"}).memoryLimit, 64ull << 20);
    EXPECT_EQ(parse({"--memory-limit", "2G"}).memoryLimit, 2ull << 30);
    EXPECT_EQ(parse({"--memory-limit", "1024k"}).memoryLimit, 1ull << 20);  // the lowest
    EXPECT_EQ(parse({"--memory-limit", "1048576"}).memoryLimit, 1ull << 20);
    EXPECT_EQ(parse({"--memory-limit", "4GiB"}).memoryLimit, 4ull << 30);  // the highest
    EXPECT_EQ(parse({"--memory-limit", "3M", "--memory-limit", "5M"}).memoryLimit, 5ull << 20);
    for (const char* bad : {"512", "1023K", "1048575", "5G", "4097M", "1.5G", "12X", "-1M", "", "M", "0", "64 M",
                            "64MiBs"})
        EXPECT_EQ(mistake({"--memory-limit", bad}),
                  std::string("mcbrun: --memory-limit: '") + bad +
                      "' is not a size from 1M to 4G (such as 512M, 64MiB or 2G)")
            << bad;
    EXPECT_EQ(mistake({"--memory-limit"}),
              "mcbrun: --memory-limit needs a value: a size from 1M to 4G (such as 512M, 64MiB or 2G)");
}

TEST(HostCommandLine, MistakesAreOneLineEach)
{
    EXPECT_EQ(mistake({"--bogus"}), "mcbrun: unknown option '--bogus' (mcbrun --help lists the options)");
    EXPECT_EQ(mistake({"-x", "--auto"}), "mcbrun: unknown option '-x' (mcbrun --help lists the options)");
    EXPECT_EQ(mistake({"--bogus=3"}), "mcbrun: unknown option '--bogus' (mcbrun --help lists the options)");
    EXPECT_EQ(mistake({"--scale"}), "mcbrun: --scale needs a value: a whole number from 1 to 16 or 'fit'");
    EXPECT_EQ(mistake({"--headless=yes"}), "mcbrun: --headless takes no value");
    EXPECT_EQ(mistake({"--after", "-5", "--screenshot", "x.png"}),
              "mcbrun: --after: '-5' is not a number of milliseconds");
    EXPECT_EQ(mistake({"--run-for", "soon"}), "mcbrun: --run-for: 'soon' is not a number of milliseconds");
    EXPECT_EQ(mistake({"--frames", "d", "--every", "0"}),
              "mcbrun: --every: '0' is not a number of milliseconds above 0");
    EXPECT_EQ(mistake({"--window-position", "10"}),
              "mcbrun: --window-position: '10' is not X,Y (two whole numbers)");
    EXPECT_EQ(mistake({"--keymap="}), "mcbrun: --keymap: '' is not a file name");
    EXPECT_EQ(mistake({"--trace="}), "mcbrun: --trace: '' is not a file name");
    for (const char* bad : {"mouse", "1,2", "1,2,3,4", "a,b,c", ""})
        EXPECT_EQ(mistake({"--tilt", bad}),
                  std::string("mcbrun: --tilt: '") + bad + "' is not 'keys' or X,Y,Z (thousandths of g)");
    EXPECT_EQ(mistake({"a", "b"}), "mcbrun: more than one application given: 'a' and 'b'");
    EXPECT_EQ(mistake({"--auto", "app"}), "mcbrun: --auto and an application directory ('app') exclude each other");
    EXPECT_EQ(mistake({"--after", "10"}), "mcbrun: --after needs --screenshot");
    EXPECT_EQ(mistake({"--every", "10"}), "mcbrun: --every needs --frames");
    EXPECT_EQ(mistake({"--headless", "--fullscreen"}), "mcbrun: --headless and --fullscreen exclude each other");
    // --help wins over the checks between options, not over unknown ones.
    EXPECT_TRUE(parse({"--after", "10", "--help"}).help);
    EXPECT_EQ(mistake({"--help", "--bogus"}), "mcbrun: unknown option '--bogus' (mcbrun --help lists the options)");
}

TEST(HostCommandLine, TheSettingsFileFillsWhatTheCommandLineLeftUnset)
{
    const std::string text =
        "# chosen once\n"
        "scale = 3\n"
        "\n"
        "  keymap = keys/mine.txt   # relative to the file\n"
        "window-position=5, 7\n"
        "memory-limit = 256M\n";
    Options o = parse({});
    EXPECT_FALSE(cli::applyConfig(text, "cfg", "/home/u/.config/mcbrun", o));
    EXPECT_EQ(o.scale, 3);
    EXPECT_EQ(o.keymap, "/home/u/.config/mcbrun/keys/mine.txt");
    EXPECT_EQ(o.position, (cli::Position{5, 7}));
    EXPECT_EQ(o.memoryLimit, 256ull << 20);

    Options given = parse({"--scale", "fit", "--keymap", "other.txt", "--window-position", "1,2", "--memory-limit",
                           "2G"});
    EXPECT_FALSE(cli::applyConfig(text, "cfg", "/d", given));
    EXPECT_EQ(given.scale, 0);
    EXPECT_EQ(given.keymap, "other.txt");
    EXPECT_EQ(given.position, (cli::Position{1, 2}));
    EXPECT_EQ(given.memoryLimit, 2ull << 30);

    Options absolute = parse({});
    EXPECT_FALSE(cli::applyConfig("keymap = /etc/keys\n", "cfg", "/d", absolute));
    EXPECT_EQ(absolute.keymap, "/etc/keys");
}

TEST(HostCommandLine, SettingsFileMistakesNameTheLine)
{
    auto error = [](const std::string& aText) {
        Options o;
        o.scale = 2;
        std::optional<std::string> e = cli::applyConfig(aText, "/c/mcbrun.conf", "/c", o);
        EXPECT_EQ(o.scale, 2);  // untouched
        EXPECT_FALSE(o.keymap);
        return e.value_or("");
    };
    EXPECT_EQ(error("keymap = k\nscale = huge\n"),
              "mcbrun: /c/mcbrun.conf:2: scale: 'huge' is not a whole number from 1 to 16 or 'fit'");
    EXPECT_EQ(error("\n\nfullscreen = yes\n"),
              "mcbrun: /c/mcbrun.conf:3: unknown setting 'fullscreen' (scale, keymap, window-position and memory-limit "
              "are known)");
    EXPECT_EQ(error("scale 2\n"), "mcbrun: /c/mcbrun.conf:1: expected 'name = value', found 'scale 2'");
    EXPECT_EQ(error("window-position = 1;2\n"),
              "mcbrun: /c/mcbrun.conf:1: window-position: '1;2' is not X,Y (two whole numbers)");
    EXPECT_EQ(error("# k\nkeymap =\n"), "mcbrun: /c/mcbrun.conf:2: keymap: no file name");
    EXPECT_EQ(error("memory-limit = 100K\n"),
              "mcbrun: /c/mcbrun.conf:1: memory-limit: '100K' is not a size from 1M to 4G (such as 512M, 64MiB or 2G)");
}

TEST(HostCommandLine, TheSettingsFileLivesInTheXdgConfigDirectory)
{
    EXPECT_EQ(cli::configPath("/x/config", "/home/u"), "/x/config/mcbrun/mcbrun.conf");
    EXPECT_EQ(cli::configPath(nullptr, "/home/u"), "/home/u/.config/mcbrun/mcbrun.conf");
    EXPECT_EQ(cli::configPath("", "/home/u"), "/home/u/.config/mcbrun/mcbrun.conf");
    EXPECT_EQ(cli::configPath("relative", "/home/u"), "/home/u/.config/mcbrun/mcbrun.conf");  // not absolute: ignored
    EXPECT_EQ(cli::configPath(nullptr, nullptr), "");
}

TEST(HostCommandLine, TheApplicationDirectoryComesFromTheArgument)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    std::string root = QDir(tmp.path()).canonicalPath().toStdString();
    ASSERT_TRUE(QDir(QString::fromStdString(root)).mkpath("games/ball"));
    QFile file(QString::fromStdString(root + "/games/ball/index.mcb"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QFile other(QString::fromStdString(root + "/games/notes.txt"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();

    auto directory = [&](std::vector<std::string> aArguments, const char* aProgram = "/usr/bin/mcbrun") {
        Options o = parse(std::move(aArguments));
        std::string dir;
        std::optional<cli::StartError> error = cli::applicationDirectory(o, aProgram, root + "/games", dir);
        return error ? "error " + std::to_string(error->status) + ": " + error->message : dir;
    };
    EXPECT_EQ(directory({}), root + "/games");
    EXPECT_EQ(directory({"ball"}), root + "/games/ball");
    EXPECT_EQ(directory({"ball/"}), root + "/games/ball");
    EXPECT_EQ(directory({"./ball/../ball/index.mcb"}), root + "/games/ball");
    EXPECT_EQ(directory({root + "/games/ball"}), root + "/games/ball");
    // An index.mcb that is missing from an existing directory: the start
    // reports it ("Failed to open").
    EXPECT_EQ(directory({"index.mcb"}), root + "/games");
    EXPECT_EQ(directory({"notes.txt"}),
              "error 2: mcbrun: 'notes.txt' is neither an application directory nor an index.mcb file");
    EXPECT_EQ(directory({"missing"}), "error 2: mcbrun: no such application directory: 'missing'");
    EXPECT_EQ(directory({"missing/index.mcb"}), "error 2: mcbrun: no such application directory: 'missing/index.mcb'");
    EXPECT_EQ(directory({"--auto"}, "/usr/bin/ballgame"), "/opt/ballgame");
    EXPECT_EQ(directory({"--auto"}, "ballgame"), "/opt/ballgame");
    std::string longName(4091, 'n');  // "/opt/" + 4091 = 4096 bytes: fits
    EXPECT_EQ(directory({"--auto"}, longName.c_str()), "/opt/" + longName);
    longName += 'n';
    EXPECT_EQ(directory({"--auto"}, longName.c_str()), "error 1: " + longName + ": VM basename too long");
}

TEST(HostCommandLine, HelpDocumentsEveryOptionAndTheExitStatuses)
{
    std::string help = cli::helpText();
    EXPECT_EQ(help.rfind("Usage: mcbrun [OPTIONS] [APPDIR | APPDIR/index.mcb]\n", 0), 0u);
    for (const char* option :
         {"--auto", "--keymap FILE", "--help", "--version", "--windowed", "--fullscreen", "--scale N|fit",
          "--portrait", "--window-position X,Y", "--headless", "--screenshot FILE", "--after MS", "--frames DIR",
          "--every MS", "--run-for MS", "--events FILE", "--trace FILE", "--tilt keys", "--tilt X,Y,Z", "F11", "F12",
          "mcbrun.conf", "--location LAT,LON[,ALT]", "--location-nmea FILE", "--memory-limit SIZE", "Out of memory"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    size_t statuses = help.find("\nExit status:\n");
    ASSERT_NE(statuses, std::string::npos);
    for (const char* status : {"\n  0  ", "\n  1  ", "\n  2  ", "\n  3  "})
        EXPECT_NE(help.find(status, statuses), std::string::npos) << status;
    // Fits a terminal.
    size_t start = 0;
    while (start < help.size()) {
        size_t end = help.find('\n', start);
        EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_EQ(cli::versionText().rfind("mcbrun ", 0), 0u);
}

#endif  // MCB_HAVE_HOST
