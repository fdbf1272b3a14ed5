#include "TraceReport.h"

#include <algorithm>
#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "McbFile.h"

namespace mcbtrace {

using Trace::TraceLog;

namespace {

std::string format(const char* aFormat, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* aFormat, ...)
{
    char text[256];
    va_list args;
    va_start(args, aFormat);
    std::vsnprintf(text, sizeof text, aFormat, args);
    va_end(args);
    return text;
}

void appendUtf8(std::string& aOut, uint32_t aCode)
{
    if (aCode < 0x80) {
        aOut += char(aCode);
    } else if (aCode < 0x800) {
        aOut += char(0xC0 | aCode >> 6);
        aOut += char(0x80 | (aCode & 0x3F));
    } else if (aCode < 0x10000) {
        aOut += char(0xE0 | aCode >> 12);
        aOut += char(0x80 | (aCode >> 6 & 0x3F));
        aOut += char(0x80 | (aCode & 0x3F));
    } else {
        aOut += char(0xF0 | aCode >> 18);
        aOut += char(0x80 | (aCode >> 12 & 0x3F));
        aOut += char(0x80 | (aCode >> 6 & 0x3F));
        aOut += char(0x80 | (aCode & 0x3F));
    }
}

// The text in double quotes, as UTF-8; quotes, backslashes, control
// characters and unpaired surrogates are escaped.
std::string quoted(const CAppsString& aText)
{
    std::string out = "\"";
    const int n = aText.count();
    for (int i = 0; i < n; ++i) {
        uint32_t u = aText.data()[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && aText.data()[i + 1] >= 0xDC00 &&
            aText.data()[i + 1] < 0xE000) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (aText.data()[++i] - 0xDC00u));
        } else if (u >= 0xD800 && u < 0xE000) {
            out += format("\\u%04X", unsigned(u));
        } else if (u == '"' || u == '\\') {
            out += '\\';
            out += char(u);
        } else if (u == '\n') {
            out += "\\n";
        } else if (u == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            out += format("\\x%02X", unsigned(u));
        } else {
            appendUtf8(out, u);
        }
    }
    return out + "\"";
}

std::string describe(const TraceLog::NodeBase& aNode, const MethodNames& aNames)
{
    switch (aNode.typeCode()) {
    case TraceLog::EMethodCall: {
        int32_t address = static_cast<const TraceLog::MethodCallNode&>(aNode).value;
        std::string name = aNames.at(address);
        return name[0] == '@' ? "call " + name : "call " + name + format(" @%d", address);
    }
    case TraceLog::EMethodReturn:
        return "return";
    case TraceLog::EGarbageCollection: {
        const auto& gc = static_cast<const TraceLog::GarbageCollectionNode&>(aNode);
        return format("collection: %d live blocks, %" PRId64 " bytes", gc.e32, gc.e64);
    }
    case TraceLog::EStopTrace:
        return "stop trace";
    case TraceLog::EStartTrace:
        return format("start trace, process %d", static_cast<const TraceLog::StartTraceNode&>(aNode).value);
    case TraceLog::EMessage:
        return "log " + quoted(static_cast<const TraceLog::MessageNode&>(aNode).text.text);
    case TraceLog::EExceptionThrown: {
        const auto& thrown = static_cast<const TraceLog::ExceptionThrownNode&>(aNode);
        return thrown.value2 == 0 ? format("throw class %d", thrown.value1)
                                  : format("throw class %d, error code %d", thrown.value1, thrown.value2);
    }
    case TraceLog::EExceptionCaught: {
        int32_t address = static_cast<const TraceLog::ExceptionCaughtNode&>(aNode).value;
        std::string where = aNames.containing(address);
        return where[0] == '@' ? "catch, handler " + where : "catch, handler " + where + format(" @%d", address);
    }
    case TraceLog::EBinary: {
        const auto& binary = static_cast<const TraceLog::BinaryNode&>(aNode);
        std::string text = "binary " + quoted(binary.name.text) +
                           format(", values %d %d, entity %d %" PRId64 ", %d bytes", binary.value1,
                                  binary.value2, binary.e32, binary.e64, binary.data.bytes.count());
        for (int i = 0; i < binary.data.bytes.count(); ++i)
            text += format(" %02x", binary.data.bytes.data()[i]);
        return text;
    }
    default:
        return format("record of type %d", aNode.typeCode());
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Names

MethodNames::MethodNames(const mcb::Module& aModule)
{
    for (const mcb::StaticMethod& method : aModule.statics)
        add(method.codeAddress, method.name);
    for (const mcb::VirtualMethod& method : aModule.virtuals)
        for (const mcb::VirtualImpl& impl : method.impls)
            add(impl.codeAddress, method.name);
}

void MethodNames::add(int32_t aAddress, const std::string& aName)
{
    // The first name given to an address stays.
    names_.emplace(aAddress, aName);
}

std::string MethodNames::at(int32_t aAddress) const
{
    auto it = names_.find(aAddress);
    return it == names_.end() ? format("@%d", aAddress) : it->second;
}

std::string MethodNames::containing(int32_t aAddress) const
{
    auto it = names_.upper_bound(aAddress);
    if (it == names_.begin())
        return format("@%d", aAddress);
    --it;
    return it->second + format("+%d", aAddress - it->first);
}

// ---------------------------------------------------------------------------
// Records

void printRecords(std::ostream& aOut, const TraceLog& aTrace, const MethodNames& aNames)
{
    const TraceLog::HeaderNode& h = aTrace.header;
    aOut << "trace by " << quoted(h.producer.text)
         << format(", version %d.%d, created %04d-%02d-%02d %02d:%02d:%02d, %" PRId64 " ticks per second\n",
                   h.versionMajor, h.versionMinor, h.created.year, h.created.month, h.created.day, h.created.hour,
                   h.created.minute, h.created.second, h.ticksPerSecond);
    aOut << "     time (us)  depth  event\n";
    for (const auto& node : aTrace.nodes) {
        const auto* log = dynamic_cast<const TraceLog::LogNode*>(node.get());
        if (!log)
            continue;
        aOut << format("%14" PRId64 " %6d  ", log->l64, log->l32) << describe(*node, aNames) << '\n';
    }
}

// ---------------------------------------------------------------------------
// Flat profile

namespace {

struct MethodTimes {
    int64_t calls = 0;
    int64_t self = 0;
    int64_t total = 0;
    int open = 0;  // activations on the stack
};

class Profile {
public:
    void call(int32_t aAddress, int aDepth, int64_t aTime)
    {
        closeTo(aDepth - 1, aTime);
        MethodTimes& m = methods_[aAddress];
        ++m.calls;
        ++m.open;
        stack_.push_back({aAddress, aTime, 0});
    }
    // Ends every activation deeper than aDepth at aTime.
    void closeTo(int aDepth, int64_t aTime)
    {
        while (int(stack_.size()) > std::max(aDepth, 0)) {
            Frame f = stack_.back();
            stack_.pop_back();
            const int64_t duration = std::max<int64_t>(aTime - f.start, 0);
            MethodTimes& m = methods_[f.address];
            m.self += std::max<int64_t>(duration - f.children, 0);
            if (--m.open == 0)
                m.total += duration;
            if (!stack_.empty())
                stack_.back().children += duration;
        }
    }
    const std::map<int32_t, MethodTimes>& methods() const { return methods_; }

private:
    struct Frame {
        int32_t address;
        int64_t start;
        int64_t children;
    };
    std::vector<Frame> stack_;
    std::map<int32_t, MethodTimes> methods_;
};

}  // namespace

void printFlatProfile(std::ostream& aOut, const TraceLog& aTrace, const MethodNames& aNames)
{
    Profile profile;
    int64_t last = 0;
    for (const auto& node : aTrace.nodes) {
        const auto* log = dynamic_cast<const TraceLog::LogNode*>(node.get());
        if (!log)
            continue;
        last = std::max(last, log->l64);
        switch (node->typeCode()) {
        case TraceLog::EMethodCall:
            profile.call(static_cast<const TraceLog::MethodCallNode&>(*node).value, log->l32, log->l64);
            break;
        case TraceLog::EMethodReturn:
        case TraceLog::EExceptionCaught:
            profile.closeTo(log->l32, log->l64);
            break;
        case TraceLog::EStopTrace:
            profile.closeTo(0, log->l64);
            break;
        default:
            break;
        }
    }
    profile.closeTo(0, last);

    struct Row {
        std::string name;
        MethodTimes times;
    };
    std::vector<Row> rows;
    int64_t allSelf = 0, allCalls = 0;
    for (const auto& [address, times] : profile.methods()) {
        rows.push_back({aNames.at(address), times});
        allSelf += times.self;
        allCalls += times.calls;
    }
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.times.self != b.times.self)
            return a.times.self > b.times.self;
        if (a.times.calls != b.times.calls)
            return a.times.calls > b.times.calls;
        return a.name < b.name;
    });

    // Times are in ticks of the header's clock (microseconds as recorded).
    const double ticks = aTrace.header.ticksPerSecond > 0 ? double(aTrace.header.ticksPerSecond) : 1e6;
    const double ms = 1e3 / ticks, us = 1e6 / ticks;
    aOut << format("Flat profile: %" PRId64 " calls, %.3f ms in methods.\n\n", allCalls, double(allSelf) * ms);
    aOut << "  %       cumulative      self                  self      total\n";
    aOut << " time         ms            ms        calls   us/call   us/call  name\n";
    int64_t cumulative = 0;
    for (const Row& row : rows) {
        cumulative += row.times.self;
        const double calls = double(std::max<int64_t>(row.times.calls, 1));
        aOut << format("%6.2f %12.3f %12.3f %12" PRId64 " %9.2f %9.2f  ",
                       allSelf > 0 ? 100.0 * double(row.times.self) / double(allSelf) : 0.0,
                       double(cumulative) * ms, double(row.times.self) * ms, row.times.calls,
                       double(row.times.self) * us / calls, double(row.times.total) * us / calls)
             << row.name << '\n';
    }
}

}  // namespace mcbtrace
