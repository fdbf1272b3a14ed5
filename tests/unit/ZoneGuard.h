// Sets the time zone (TZ) for the lifetime of the guard and restores the
// previous value afterwards.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

class ZoneGuard {
public:
    explicit ZoneGuard(const char* aZone)
    {
        const char* old = std::getenv("TZ");
        hadOld = old != nullptr;
        if (old)
            oldValue = old;
        setenv("TZ", aZone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (hadOld)
            setenv("TZ", oldValue.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    bool hadOld = false;
    std::string oldValue;
};
