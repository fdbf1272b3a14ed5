// Readable forms of a trace recorded by the runtime (docs/trace.md): one
// line per record, and a flat profile of the method calls.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "Utility/TraceLog.h"

namespace mcb {
struct Module;
}

namespace mcbtrace {

// Method names by code address, from an application's bytecode file.
class MethodNames {
public:
    MethodNames() = default;
    // Static methods and every implementation of a virtual method.
    explicit MethodNames(const mcb::Module& aModule);
    void add(int32_t aAddress, const std::string& aName);
    // The method that starts at aAddress; "@<address>" when none does.
    std::string at(int32_t aAddress) const;
    // "<method>+<offset>" for the method whose code holds aAddress (the
    // nearest start at or below it); "@<address>" when none does.
    std::string containing(int32_t aAddress) const;

private:
    std::map<int32_t, std::string> names_;
};

// The header line, a column line and one line per record.
void printRecords(std::ostream& aOut, const Trace::TraceLog& aTrace, const MethodNames& aNames);

// Calls, self and inclusive time per method, most self time first. The
// call depth of every record decides which calls are open: a call at depth
// d closes whatever ran at depth d and below it, a return or a catch at
// depth d closes everything deeper, the stop node (or the last record)
// closes the rest. The inclusive time of a recursive method counts its
// outermost activation only.
void printFlatProfile(std::ostream& aOut, const Trace::TraceLog& aTrace, const MethodNames& aNames);

}  // namespace mcbtrace
