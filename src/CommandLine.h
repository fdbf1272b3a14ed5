// The runtime's command line and its settings file.
//
//     mcbrun [OPTIONS] [APPDIR | APPDIR/index.mcb]
//
// parseArguments reads the options (nothing else: no file is touched);
// applyConfig fills the settings a user keeps in the settings file (scale,
// keymap, window position, memory limit) where the command line left them
// unset; the application directory is resolved against the file system
// separately.
// Every mistake is one line of text for standard error (exit status 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class WindowMode {
    Default,     // full screen with the device's window manager, else a window
    Windowed,
    Fullscreen,
};

struct Position {
    int x = 0;
    int y = 0;
    bool operator==(const Position&) const = default;
};

struct Reading3 {
    int x = 0, y = 0, z = 0;
    bool operator==(const Reading3&) const = default;
};

// --location: degrees (north and east positive) and metres.
struct Location {
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
    bool operator==(const Location&) const = default;
};

struct Options {
    bool help = false;
    bool version = false;
    bool autoDirectory = false;  // "--auto": /opt/<executable name>
    std::string application;     // APPDIR or APPDIR/index.mcb; empty: none given

    WindowMode window = WindowMode::Default;
    std::optional<int> scale;  // screen::kScaleFit (0) or 1..16
    bool portrait = false;
    std::optional<std::string> keymap;
    std::optional<Position> position;

    // --tilt keys, or a fixed reading (thousandths of g per axis).
    bool tiltKeys = false;
    std::optional<Reading3> tiltReading;
    // A position source: --location, or --location-nmea FILE.
    std::optional<Location> location;
    std::string locationNmea;

    bool headless = false;
    std::string screenshot;
    std::optional<int> after;  // ms
    std::string frames;
    std::optional<int> every;  // ms
    std::optional<int> runFor;  // ms
    std::string events;

    std::string trace;  // --trace FILE: the run is recorded into FILE
    // --memory-limit: bytes of the VM address space the program may use.
    std::optional<uint64_t> memoryLimit;
};

// Bounds of --memory-limit: below the lowest the VM's stack and first heap
// pool leave a program almost nothing; bytecode addresses at most 4 GiB.
constexpr uint64_t kLowestMemoryLimit = 1ull << 20;
constexpr uint64_t kHighestMemoryLimit = 4ull << 30;

// Default interval of --frames.
constexpr int kDefaultFrameInterval = 100;

// The options of the arguments after the program name. On a mistake returns
// the message ("mcbrun: ...").
std::optional<std::string> parseArguments(const std::vector<std::string>& aArguments, Options& aOptions);

// Reads settings file text ("name = value" lines: scale, keymap,
// window-position, memory-limit; "#" comments) into the settings the command line did not
// set. A relative keymap path is taken relative to aDirectory, the file's
// directory. On a mistake returns "mcbrun: NAME:LINE: ...".
std::optional<std::string> applyConfig(const std::string& aText, const std::string& aName,
                                       const std::string& aDirectory, Options& aOptions);

// The settings file: $XDG_CONFIG_HOME/mcbrun/mcbrun.conf, with
// XDG_CONFIG_HOME defaulting to $HOME/.config (empty without either).
std::string configPath(const char* aXdgConfigHome, const char* aHome);

// The application directory of the options: "/opt/<base name of
// aProgram>" for --auto; the directory given, or that of the index.mcb
// given; else aCurrentDirectory. Returns the message and exit status of a
// mistake: a base name too long for --auto (status 1, as on the device), an
// application that does not exist or is neither a directory nor an
// index.mcb file (status 2).
struct StartError {
    std::string message;
    int status = 2;
};
std::optional<StartError> applicationDirectory(const Options& aOptions, const char* aProgram,
                                               const std::string& aCurrentDirectory, std::string& aDirectory);

// The --help text (also the source of the manual page) and --version line.
std::string helpText();
std::string versionText();

}  // namespace cli
