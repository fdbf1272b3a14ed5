// Small helpers shared by the unit tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "VMError.h"

// The code of the VM error that f raises, 0 when it raises none. The pending
// error stays for the caller to inspect.
template <typename F>
int errorCode(F&& f)
{
    try {
        f();
    } catch (const vm::ErrorHandlingException&) {
        return vm::pendingError().code;
    }
    return 0;
}

// Code and composed text of the VM error that f raises, {0, ""} when none.
template <typename F>
std::pair<int, std::string> errorOf(F&& f)
{
    try {
        f();
    } catch (const vm::ErrorHandlingException&) {
        std::pair<int, std::string> r{vm::pendingError().code, vm::toLatin1(vm::pendingError().text)};
        vm::clearPendingError();
        return r;
    }
    return {0, ""};
}

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}
