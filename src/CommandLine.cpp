#include "CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <functional>

#include "ScreenScaling.h"
#include "TextFile.h"
#include "VMSpace.h"

namespace cli {

namespace {

const char kHelp[] = R"(Usage: mcbrun [OPTIONS] [APPDIR | APPDIR/index.mcb]
Runs the application in APPDIR (default: the current directory): its
bytecode file index.mcb, on a logical screen of 800 x 480 (landscape) or
480 x 800 (portrait) pixels whatever the size of the window.

Options:
  --auto                run the application in /opt/<name of this executable>
  --keymap FILE         remap host keys to application keys (see KEYMAP FILE)
  --memory-limit SIZE   memory the program may take (its stack, heap and
                        strings), from 1M to 4G: bytes, or a number with K,
                        M or G (powers of 1024; KiB, MB ... too), as in 512M;
                        default 1G, or $MCB_MEMORY_LIMIT; beyond it an
                        allocation raises "Out of memory"
  -h, --help            show this text and exit
  --version             show the version and exit

Window:
  --windowed            a window of the logical size times the scale, titled
                        with the application's name (the default unless the
                        device's window manager runs)
  --fullscreen          full screen, the picture scaled to fit (the default
                        with the device's window manager)
  --scale N|fit         show every pixel as an N x N block (N from 1 to 16),
                        or size the window for the largest scale that fits
                        the screen; without it a window starts at scale 1
                        and the picture takes the largest whole scale that
                        fits the window or screen; the pointer is mapped
                        back to logical coordinates
  --portrait            start in portrait (480 x 800)
  --window-position X,Y
                        put the window's top-left corner at X,Y
  F11                   (in the window) toggles full screen
  F12                   (in the window) saves the logical screen as
                        screenshot-YYYYMMDD-HHMMSS-mmm.png in APPDIR

Device stand-ins:
  --tilt keys           Ctrl+arrow keys tilt the simulated accelerometer by
                        10 degrees a press towards that side (Ctrl+Space lays
                        it flat), and so does moving the mouse with the right
                        button held; these keys and that button then do not
                        reach the application
  --tilt X,Y,Z          a fixed accelerometer reading in thousandths of g
                        (lying flat: 0,0,-1000)
  --location LAT,LON[,ALT]
                        a fixed position for programs that ask where they
                        are: latitude and longitude in degrees (north and
                        east positive), altitude in metres (default 0); a
                        started request gets it at once and then at the
                        interval it asks for (every second without one)
  --location-nmea FILE  replay the NMEA log FILE at the pace of its time
                        stamps (RMC sentences give time and position, GGA
                        ones the altitude), from the program's first start
                        of location updates to the end of the log; a
                        request gets the fixes that are its interval apart

Headless runs and capture:
  --headless            run without any display (off-screen, nothing shown)
  --screenshot FILE     write the logical screen to FILE (PNG) once the first
                        picture is drawn and --after has passed, then end the
                        run (status 0)
  --after MS            run time in milliseconds before --screenshot
                        (default 0)
  --frames DIR          write the logical screen to DIR/frame-00001.png,
                        DIR/frame-00002.png, ... every --every milliseconds
  --every MS            interval of --frames (default 100)
  --run-for MS          end the run after MS milliseconds (status 0)
  --events FILE         replay input events from FILE, starting after the
                        first picture (see EVENTS FILE)

Tracing:
  --trace FILE          record every method call and return, exception thrown
                        and caught, collection and log line of the run, with
                        its time and call depth, into FILE; mcb-trace prints
                        it as text or as a flat profile

Keymap file:
  One "host key = application key" a line; # starts a comment. Host keys are
  named as Qt names them (A, F5, Space, Escape, PgUp, Enter, Left, ...) or
  given as Qt key numbers; application keys are Left, Right, Up, Down,
  Return, Backspace, Other, a single character, or a number (0x hex or two
  or more digits). Keys not in the file keep the built-in table:
    W = Up
    S = Down
    Space = Return
    Escape = 0x1000000

Events file:
  One event a line; # starts a comment. Coordinates are those the
  application receives; key names are those of the keymap file (Shift+A
  gives the text "A"). Each event follows the previous one at once; wait
  makes the pause:
    key press Left
    wait 200
    key release Left
    key Space
    pointer down 100 200
    pointer move 150 200
    pointer up 150 200
    screenshot after-drag.png
    quit
  "key NAME" presses and releases; "screenshot FILE" writes the logical
  screen; "quit" ends the run (status 0).

Settings file:
  $XDG_CONFIG_HOME/mcbrun/mcbrun.conf (XDG_CONFIG_HOME defaults to
  ~/.config) holds settings chosen once, one "name = value" a line, #
  starting a comment; options on the command line win:
    scale = 2
    keymap = keys.txt
    window-position = 100,50
    memory-limit = 256M
  A relative keymap path is relative to the settings file's directory.

Exit status:
  0                     the program exited, or the run was ended (window
                        closed, SIGTERM or SIGINT, --run-for, --screenshot,
                        quit); --help and --version
  1                     index.mcb cannot be opened, a VM error escaped
                        ("FATAL: ..."), or a capture file cannot be written
  2                     a mistake on the command line or in a keymap, events
                        or settings file, no display to open a window on;
                        or the program asked to terminate
  3                     a fatal error ended the run
)";

std::string inQuotes(const std::string& aText)
{
    return "'" + aText + "'";
}

std::optional<int> milliseconds(const std::string& aText)
{
    std::optional<long long> value = parseNumber(QString::fromStdString(aText), 0, 0x7FFFFFFF);
    if (!value)
        return std::nullopt;
    return int(*value);
}

std::optional<int> scaleValue(const std::string& aText)
{
    if (aText == "fit")
        return screen::kScaleFit;
    std::optional<long long> value = parseNumber(QString::fromStdString(aText), 1, screen::kMaxScale);
    if (!value)
        return std::nullopt;
    return int(*value);
}

std::optional<Position> positionValue(const std::string& aText)
{
    QStringList parts = QString::fromStdString(aText).split(u',');
    if (parts.size() != 2)
        return std::nullopt;
    std::optional<long long> x = parseNumber(parts[0].trimmed(), -100000, 100000);
    std::optional<long long> y = parseNumber(parts[1].trimmed(), -100000, 100000);
    if (!x || !y)
        return std::nullopt;
    return Position{int(*x), int(*y)};
}

// "keys" or X,Y,Z.
bool tiltValue(Options& aOptions, const std::string& aText)
{
    if (aText == "keys") {
        aOptions.tiltKeys = true;
        aOptions.tiltReading.reset();
        return true;
    }
    QStringList parts = QString::fromStdString(aText).split(u',');
    if (parts.size() != 3)
        return false;
    int axes[3];
    for (int i = 0; i < 3; ++i) {
        std::optional<long long> value = parseNumber(parts[i].trimmed(), -100000, 100000);
        if (!value)
            return false;
        axes[i] = int(*value);
    }
    aOptions.tiltKeys = false;
    aOptions.tiltReading = Reading3{axes[0], axes[1], axes[2]};
    return true;
}

// [+-]digits[.digits] or [+-].digits, within the bounds.
std::optional<double> decimalValue(const QString& aText, double aLowest, double aHighest)
{
    static const QRegularExpression decimal("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$");
    if (!decimal.match(aText).hasMatch())
        return std::nullopt;
    double value = aText.toDouble();
    if (value < aLowest || value > aHighest)
        return std::nullopt;
    return value;
}

// LAT,LON or LAT,LON,ALT.
std::optional<Location> locationValue(const std::string& aText)
{
    QStringList parts = QString::fromStdString(aText).split(u',');
    if (parts.size() != 2 && parts.size() != 3)
        return std::nullopt;
    std::optional<double> latitude = decimalValue(parts[0].trimmed(), -90, 90);
    std::optional<double> longitude = decimalValue(parts[1].trimmed(), -180, 180);
    std::optional<double> altitude = parts.size() == 3 ? decimalValue(parts[2].trimmed(), -100000, 100000) : 0.0;
    if (!latitude || !longitude || !altitude)
        return std::nullopt;
    return Location{*latitude, *longitude, *altitude};
}

// A size within the bounds of --memory-limit.
std::optional<uint64_t> memoryLimitValue(const std::string& aText)
{
    uint64_t bytes = 0;
    if (!vm::VMSpace::parseMemorySize(aText, bytes) || bytes < kLowestMemoryLimit || bytes > kHighestMemoryLimit)
        return std::nullopt;
    return bytes;
}

const char kScaleExpected[] = "a whole number from 1 to 16 or 'fit'";
const char kMsExpected[] = "a number of milliseconds";
const char kPositionExpected[] = "X,Y (two whole numbers)";
const char kSizeExpected[] = "a size from 1M to 4G (such as 512M, 64MiB or 2G)";

struct OptionSpec {
    const char* name;
    bool takesValue;
    // Applies the value; false when it is not valid.
    std::function<bool(Options&, const std::string&)> apply;
    const char* expected;  // what a valid value looks like
};

const std::vector<OptionSpec>& optionSpecs()
{
    static const std::vector<OptionSpec> specs = {
        {"--help", false, [](Options& o, const std::string&) { return o.help = true; }, ""},
        {"-h", false, [](Options& o, const std::string&) { return o.help = true; }, ""},
        {"--version", false, [](Options& o, const std::string&) { return o.version = true; }, ""},
        {"--auto", false, [](Options& o, const std::string&) { return o.autoDirectory = true; }, ""},
        {"--windowed", false,
         [](Options& o, const std::string&) {
             o.window = WindowMode::Windowed;
             return true;
         },
         ""},
        {"--fullscreen", false,
         [](Options& o, const std::string&) {
             o.window = WindowMode::Fullscreen;
             return true;
         },
         ""},
        {"--portrait", false, [](Options& o, const std::string&) { return o.portrait = true; }, ""},
        {"--headless", false, [](Options& o, const std::string&) { return o.headless = true; }, ""},
        {"--scale", true, [](Options& o, const std::string& v) { return bool(o.scale = scaleValue(v)); },
         kScaleExpected},
        {"--keymap", true,
         [](Options& o, const std::string& v) {
             o.keymap = v;
             return !v.empty();
         },
         "a file name"},
        {"--window-position", true,
         [](Options& o, const std::string& v) { return bool(o.position = positionValue(v)); }, kPositionExpected},
        {"--memory-limit", true,
         [](Options& o, const std::string& v) { return bool(o.memoryLimit = memoryLimitValue(v)); }, kSizeExpected},
        {"--tilt", true, tiltValue, "'keys' or X,Y,Z (thousandths of g)"},
        {"--location", true, [](Options& o, const std::string& v) { return bool(o.location = locationValue(v)); },
         "LAT,LON[,ALT] (latitude -90 to 90 and longitude -180 to 180 degrees, altitude -100000 to 100000 "
         "metres)"},
        {"--location-nmea", true,
         [](Options& o, const std::string& v) {
             o.locationNmea = v;
             return !v.empty();
         },
         "a file name"},
        {"--screenshot", true,
         [](Options& o, const std::string& v) {
             o.screenshot = v;
             return !v.empty();
         },
         "a file name"},
        {"--after", true, [](Options& o, const std::string& v) { return bool(o.after = milliseconds(v)); },
         kMsExpected},
        {"--frames", true,
         [](Options& o, const std::string& v) {
             o.frames = v;
             return !v.empty();
         },
         "a directory"},
        {"--every", true,
         [](Options& o, const std::string& v) {
             o.every = milliseconds(v);
             return o.every && *o.every > 0;
         },
         "a number of milliseconds above 0"},
        {"--run-for", true, [](Options& o, const std::string& v) { return bool(o.runFor = milliseconds(v)); },
         kMsExpected},
        {"--events", true,
         [](Options& o, const std::string& v) {
             o.events = v;
             return !v.empty();
         },
         "a file name"},
        {"--trace", true,
         [](Options& o, const std::string& v) {
             o.trace = v;
             return !v.empty();
         },
         "a file name"},
    };
    return specs;
}

const OptionSpec* findOption(const std::string& aName)
{
    for (const OptionSpec& spec : optionSpecs()) {
        if (aName == spec.name)
            return &spec;
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> parseArguments(const std::vector<std::string>& aArguments, Options& aOptions)
{
    const std::string hint = " (mcbrun --help lists the options)";
    bool positionalOnly = false;
    for (size_t i = 0; i < aArguments.size(); ++i) {
        const std::string& argument = aArguments[i];
        if (positionalOnly || argument.empty() || argument[0] != '-' || argument == "-") {
            if (!aOptions.application.empty())
                return "mcbrun: more than one application given: " + inQuotes(aOptions.application) + " and " +
                       inQuotes(argument);
            aOptions.application = argument;
            continue;
        }
        if (argument == "--") {
            positionalOnly = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        const OptionSpec* spec = findOption(name);
        if (!spec)
            return "mcbrun: unknown option " + inQuotes(name) + hint;
        if (!spec->takesValue && value)
            return "mcbrun: " + name + " takes no value";
        if (spec->takesValue && !value) {
            if (i + 1 >= aArguments.size())
                return "mcbrun: " + name + " needs a value: " + spec->expected;
            value = aArguments[++i];
        }
        if (!spec->apply(aOptions, value.value_or("")))
            return "mcbrun: " + name + ": " + inQuotes(*value) + " is not " + spec->expected;
    }
    if (aOptions.help || aOptions.version)
        return std::nullopt;
    if (aOptions.autoDirectory && !aOptions.application.empty())
        return "mcbrun: --auto and an application directory (" + inQuotes(aOptions.application) +
               ") exclude each other";
    if (aOptions.after && aOptions.screenshot.empty())
        return std::string("mcbrun: --after needs --screenshot");
    if (aOptions.every && aOptions.frames.empty())
        return std::string("mcbrun: --every needs --frames");
    if (aOptions.location && !aOptions.locationNmea.empty())
        return std::string("mcbrun: --location and --location-nmea exclude each other");
    if (aOptions.headless && aOptions.window == WindowMode::Fullscreen)
        return std::string("mcbrun: --headless and --fullscreen exclude each other");
    return std::nullopt;
}

std::optional<std::string> applyConfig(const std::string& aText, const std::string& aName,
                                       const std::string& aDirectory, Options& aOptions)
{
    Options fromFile;
    for (const TextLine& textLine : meaningfulLines(aText)) {
        std::string where = "mcbrun: " + lineMistake(aName, textLine.number, QString());
        const QString& line = textLine.text;
        qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            return where + "expected 'name = value', found " + inQuotes(line.toStdString());
        std::string name = line.left(equals).trimmed().toStdString();
        std::string value = line.mid(equals + 1).trimmed().toStdString();
        if (name == "scale") {
            if (!(fromFile.scale = scaleValue(value)))
                return where + "scale: " + inQuotes(value) + " is not " + kScaleExpected;
        } else if (name == "keymap") {
            if (value.empty())
                return where + "keymap: no file name";
            fromFile.keymap = value[0] == '/' || aDirectory.empty() ? value : aDirectory + "/" + value;
        } else if (name == "window-position") {
            if (!(fromFile.position = positionValue(value)))
                return where + "window-position: " + inQuotes(value) + " is not " + kPositionExpected;
        } else if (name == "memory-limit") {
            if (!(fromFile.memoryLimit = memoryLimitValue(value)))
                return where + "memory-limit: " + inQuotes(value) + " is not " + kSizeExpected;
        } else {
            return where + "unknown setting " + inQuotes(name) +
                   " (scale, keymap, window-position and memory-limit are known)";
        }
    }
    if (!aOptions.scale)
        aOptions.scale = fromFile.scale;
    if (!aOptions.keymap)
        aOptions.keymap = fromFile.keymap;
    if (!aOptions.position)
        aOptions.position = fromFile.position;
    if (!aOptions.memoryLimit)
        aOptions.memoryLimit = fromFile.memoryLimit;
    return std::nullopt;
}

std::string configPath(const char* aXdgConfigHome, const char* aHome)
{
    std::string base;
    if (aXdgConfigHome && aXdgConfigHome[0] == '/')
        base = aXdgConfigHome;
    else if (aHome && aHome[0])
        base = std::string(aHome) + "/.config";
    else
        return "";
    return base + "/mcbrun/mcbrun.conf";
}

std::optional<StartError> applicationDirectory(const Options& aOptions, const char* aProgram,
                                               const std::string& aCurrentDirectory, std::string& aDirectory)
{
    if (aOptions.autoDirectory) {
        const char* slash = std::strrchr(aProgram, '/');
        const char* base = slash ? slash + 1 : aProgram;
        char buffer[4097];
        int length = std::snprintf(buffer, sizeof buffer, "/opt/%s", base);
        if (length < 0 || length > 4096)
            return StartError{std::string(base) + ": VM basename too long", 1};
        aDirectory = buffer;
        return std::nullopt;
    }
    if (aOptions.application.empty()) {
        aDirectory = aCurrentDirectory;
        return std::nullopt;
    }
    QString given = QString::fromStdString(aOptions.application);
    QFileInfo info(QDir(QString::fromStdString(aCurrentDirectory)), given);
    if (info.isDir()) {
        aDirectory = QDir::cleanPath(info.absoluteFilePath()).toStdString();
        return std::nullopt;
    }
    // APPDIR/index.mcb: the directory, when it exists (a missing index.mcb
    // is then reported as at every start).
    if (info.fileName() == QLatin1String("index.mcb") && info.absoluteDir().exists()) {
        aDirectory = QDir::cleanPath(info.absolutePath()).toStdString();
        return std::nullopt;
    }
    if (info.exists())
        return StartError{"mcbrun: " + inQuotes(aOptions.application) +
                              " is neither an application directory nor an index.mcb file",
                          2};
    return StartError{"mcbrun: no such application directory: " + inQuotes(aOptions.application), 2};
}

std::string helpText()
{
    return kHelp;
}

std::string versionText()
{
    return std::string("mcbrun ") + MCB_VERSION + "\n";
}

}  // namespace cli
