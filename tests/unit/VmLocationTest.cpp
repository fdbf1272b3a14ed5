// The location extension: every operation's stack effect and values,
// date-time copies independent of their source, refused operands, and the
// observer calls of an attached position source.
#include "ExtensionTestSupport.h"

#ifdef MCB_HAVE_HOST

#include "DateTime.h"
#include "ORaw.h"
#include "StringObjects.h"
#include "VirtualMachineExtensions/Location/Location.h"

using namespace vm;
using ext::CLocation;
using ext::CLocationWrapper;
using Requestor = ext::CLocationPositionRequestorGCObject;

namespace {

constexpr TInt64 kOne = ORaw::one;

// The observer: an App that stores what it is told into globals 8.. and logs.
const char* const kObserver = R"(
.map event params 2 refs 0 1
.virtual "<*locationobserver>.handle location event<*location>" impl App located map event
.virtual "<*locationobserver>.handle location error<locationerror>" impl App failed map event
)";
const char* const kObserverMethods = R"(
located:                        ; [observer][location][ret]
    globals
    field.s 8
    ldslot.s -3
    extcall 27, 12
    storen.s 2
    globals
    field.s 10
    ldslot.s -3
    extcall 27, 13
    storen.s 2
    globals
    field.s 12
    ldslot.s -3
    extcall 27, 11
    storen.s 2
    globals
    field.s 14
    ldslot.s -3
    extcall 27, 9
    stind
    ldstr "located"
    native Debug 1
    ret 0, 3
failed:                         ; [observer][code][ret]
    globals
    field.s 16
    ldslot.s -3
    stind
    ldstr "failed"
    native Debug 1
    ret 0, 3
)";

struct FakeSource : ext::MPositionSource {
    struct Start {
        ext::MPositionObserver* observer;
        Addr key;
        Word object;
        TInt32 interval;
    };
    std::vector<Start> starts;
    std::vector<Addr> stops;
    void startUpdates(ext::MPositionObserver& aObserver, Addr aKey, Word aObject, TInt32 aInterval) override
    {
        starts.push_back({&aObserver, aKey, aObject, aInterval});
    }
    void stopUpdates(Addr aKey) override { stops.push_back(aKey); }
};

struct VmLocation : ExtensionFixture {
    void TearDown() override
    {
        CLocationWrapper::attachPositionSource(nullptr);
        ExtensionFixture::TearDown();
    }
    int32_t* s() { return machine.stack(); }
    // Puts the operands at slots 10.. and calls; returns the new top.
    int call(int aOperation, std::vector<Word> aOperands)
    {
        for (size_t i = 0; i < aOperands.size(); ++i)
            s()[10 + i] = aOperands[i];
        // Above the top: must stay unless a result goes there.
        s()[10 + aOperands.size()] = 0x5A5A;
        s()[11 + aOperands.size()] = 0x5A5A;
        return registry.callExtension(27, aOperation, 9 + int(aOperands.size()), machine.stackAddress());
    }
    static std::vector<Word> words(TInt64 aFixed) { return {ORaw::lowWord(aFixed), ORaw::highWord(aFixed)}; }
    TInt64 fixedAt(int aSlot) { return ORaw::fromWords(s()[aSlot], s()[aSlot + 1]); }
    Addr cell(int aGlobal) { return Addr(machine.globals()) + 4u * aGlobal; }
    Word date(int aDay, int aMonth, int aYear)
    {
        return Word(newDateTimeObject(machine.heap(), Kelvar::DateTime(aDay, aMonth, aYear, 7, 8, 9, 0)));
    }
    // A location in global aGlobal from the coordinates and a date.
    void makeLocation(int aGlobal, TInt64 aFirst, TInt64 aSecond, TInt64 aThird, Word aDate)
    {
        std::vector<Word> operands{Word(cell(aGlobal))};
        for (TInt64 v : {aFirst, aSecond, aThird})
            for (Word w : words(v))
                operands.push_back(w);
        operands.push_back(aDate);
        ASSERT_EQ(call(5, operands), 10);
    }
    CLocation& location(int aGlobal) { return objectOf<CLocation>(machine.heap(), Addr(global(aGlobal))); }
    Requestor& requestor(int aGlobal) { return objectOf<Requestor>(machine.heap(), Addr(global(aGlobal))); }
};

}  // namespace

TEST_F(VmLocation, LocationsKeepTheirCoordinatesAndReadThemBack)
{
    ASSERT_EQ(run("", ""), "ok");
    makeLocation(0, 3 * kOne / 2, -9 * kOne / 4, 100 * kOne, date(5, 3, 2010));
    EXPECT_EQ(s()[10], Word(cell(0)));  // op 5 leaves its target where it was
    EXPECT_EQ(s()[18], 0x5A5A);
    Word loc = Word(cell(0));
    EXPECT_EQ(call(12, {loc}), 11);
    EXPECT_EQ(fixedAt(10), 3 * kOne / 2);
    EXPECT_EQ(s()[12], 0x5A5A);
    EXPECT_EQ(call(13, {loc}), 11);
    EXPECT_EQ(fixedAt(10), -9 * kOne / 4);
    EXPECT_EQ(call(11, {loc}), 11);
    EXPECT_EQ(fixedAt(10), 100 * kOne);
    EXPECT_EQ(call(16, {77, loc}), 11);
    EXPECT_EQ(fixedAt(10), 0);
    EXPECT_EQ(call(9, {loc}), 10);
    EXPECT_EQ(s()[10], 0);
    // Op 7 changes the coordinates and leaves the location on the stack.
    std::vector<Word> operands{loc};
    for (TInt64 v : {-kOne, 2 * kOne, kOne / 8})
        for (Word w : words(v))
            operands.push_back(w);
    EXPECT_EQ(call(7, operands), 10);
    EXPECT_EQ(s()[10], loc);
    EXPECT_EQ(call(12, {loc}), 11);
    EXPECT_EQ(fixedAt(10), -kOne);
    EXPECT_EQ(location(0).second, 2 * kOne);
    EXPECT_EQ(location(0).third, kOne / 8);
    // The operations without an effect keep to their stack effects.
    std::vector<Word> eight{loc, 1, 2, 3, 4};
    EXPECT_EQ(call(8, eight), 9);
    EXPECT_EQ(call(14, {loc, loc}), 11);
    EXPECT_EQ(fixedAt(10), 0);
    EXPECT_EQ(call(15, {loc, loc}), 11);
    EXPECT_EQ(fixedAt(10), 0);
    EXPECT_EQ(location(0).first, -kOne);
}

TEST_F(VmLocation, TimeStampsAreCopiesBothWays)
{
    ASSERT_EQ(run("", ""), "ok");
    Word source = date(5, 3, 2010);
    makeLocation(0, 0, 0, 0, source);
    dateTimeOf(machine.heap(), Addr(source)).setYear(1999);
    EXPECT_EQ(location(0).time.getYear(), 2010);
    // Op 6: a copy again.
    Word other = date(1, 12, 2020);
    EXPECT_EQ(call(6, {Word(cell(0)), other}), 9);
    dateTimeOf(machine.heap(), Addr(other)).setDay(2);
    EXPECT_EQ(location(0).time.getDay(), 1);
    EXPECT_EQ(location(0).time.getMonth(), 12);
    // Op 10: a new date-time object, a box around a date-time block.
    EXPECT_EQ(call(10, {Word(cell(0))}), 10);
    Addr copy = Addr(s()[10]);
    EXPECT_EQ(machine.heap().gcCodeOf(copy), GC_CODE_REFERENCE);
    EXPECT_EQ(machine.heap().gcCodeOf(Addr(machine.space().loadWord(copy))), GC_CODE_DATETIME);
    Kelvar::DateTime& copied = dateTimeOf(machine.heap(), copy);
    EXPECT_EQ(copied.toString().toLatin1(), "2020-12-01 07:08:09");
    copied.setYear(2001);
    EXPECT_EQ(location(0).time.getYear(), 2020);
}

TEST_F(VmLocation, RequestorsAndTheirOperations)
{
    ASSERT_EQ(run(kObserver, "", kObserverMethods), "ok");
    Word req = Word(cell(1));
    EXPECT_EQ(call(1, {req, 4321, 55, 3}), 9);
    EXPECT_EQ(s()[10], Word(cell(1)));  // operands left as they were
    EXPECT_EQ(requestor(1).reference, 4321);
    EXPECT_EQ(requestor(1).value, 55);
    EXPECT_EQ(requestor(1).interval, 3000);
    EXPECT_EQ(call(2, {req, 250}), 9);
    EXPECT_EQ(requestor(1).interval, 250);
    EXPECT_EQ(call(17, {req, -8}), 9);
    EXPECT_EQ(requestor(1).value, -8);
    // No source: start and stop do nothing, the observer is never called.
    EXPECT_EQ(call(3, {req}), 9);
    EXPECT_EQ(call(4, {req}), 9);
    EXPECT_TRUE(host.logs.empty());
    auto* wrapper = dynamic_cast<CLocationWrapper*>(registry.extension(27));
    ASSERT_NE(wrapper, nullptr);
    EXPECT_GE(wrapper->eventHandle(), 0);
    EXPECT_GE(wrapper->errorHandle(), 0);
}

TEST_F(VmLocation, RefusedOperandsAndUnknownOperations)
{
    ASSERT_EQ(run("", ""), "ok");
    EXPECT_EQ(errorOf([&] { call(9, {0}); }).second, "NullPointerException: NULL pointer");
    EXPECT_EQ(errorOf([&] { call(9, {Word(cell(0))}); }).second, "NullPointerException: NULL pointer");
    EXPECT_EQ(errorOf([&] { call(1, {0, 1, 2, 3}); }).second, "NullPointerException: NULL pointer");
    EXPECT_EQ(errorOf([&] { call(14, {0, 0}); }).second, "NullPointerException: NULL pointer");
    call(1, {Word(cell(1)), 0, 0, 1});
    // A requestor is no location, a location no requestor.
    EXPECT_EQ(errorOf([&] { call(12, {Word(cell(1))}); }).second, "VMException: Invalid object");
    makeLocation(0, 0, 0, 0, date(1, 1, 2000));
    EXPECT_EQ(errorOf([&] { call(3, {Word(cell(0))}); }).second, "VMException: Invalid object");
    // A date operand that is no date.
    Word text = Word(newStringObject(machine.heap(), OString("x")));
    EXPECT_EQ(errorOf([&] { call(6, {Word(cell(0)), text}); }).second, "VMException: Invalid object");
    testing::internal::CaptureStderr();
    EXPECT_EQ(errorCode([&] { call(18, {}); }), KErrFatal);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "FATAL: Location: Unknown opcode!\n");
}

TEST_F(VmLocation, ProgramWithoutObserverResolvesNoHandles)
{
    ASSERT_EQ(run("", "    globals\n    push 1\n    push 2\n    push 3\n    extcall 27, 1\n"), "ok");
    auto* wrapper = dynamic_cast<CLocationWrapper*>(registry.extension(27));
    EXPECT_EQ(wrapper->eventHandle(), -1);
    EXPECT_EQ(wrapper->errorHandle(), -1);
    // An attached source may report anyway: nothing is called.
    wrapper->positionUpdate(kOne, kOne, kOne, {0, Kelvar::DateTime(), 0, 0});
    wrapper->positionError(3, 0);
    EXPECT_TRUE(host.logs.empty());
}

TEST_F(VmLocation, AttachedSourceReachesTheObserverMethods)
{
    FakeSource source;
    CLocationWrapper::attachPositionSource(&source);
    ASSERT_EQ(run(std::string(kObserver) + ".static \"work\" work map plain\n", R"(
    new 1, 1                    ; the observer, an App in global 2
    dup
    setclass App
    globals
    field.s 2
    ldslot.s -2
    stind
    globals                     ; a requestor for it in global 1
    field.s 1
    ldslot.s -2
    push 7
    push 2
    extcall 27, 1
    globals
    field.s 1
    extcall 27, 3
    adjust.s -1
)",
                  std::string(kObserverMethods) + R"(
work:
    ldstr "working"
    native Debug 1
    ldstr "worked"
    native Debug 1
    ret 0, 1
)"),
              "ok");
    ASSERT_EQ(source.starts.size(), 1u);
    Word observer = global(2);
    Addr block = Addr(global(1));
    EXPECT_EQ(source.starts[0].key, block);
    EXPECT_EQ(source.starts[0].object, observer);
    EXPECT_EQ(source.starts[0].interval, 2000);
    // While started the requestor and its observer are roots.
    const std::vector<Addr>& roots = machine.heap().roots();
    EXPECT_EQ(std::count(roots.begin(), roots.end(), block), 1);
    EXPECT_EQ(std::count(roots.begin(), roots.end(), Addr(observer)), 1);

    // An update: the first coordinate comes from the second value.
    ext::MPositionObserver::PositionRecord record{kOne / 2, Kelvar::DateTime(1, 2, 2003, 4, 5, 6, 1), 42, observer};
    source.starts[0].observer->positionUpdate(10 * kOne, 20 * kOne, 30 * kOne, record);
    EXPECT_EQ(host.logs, std::vector<std::string>{"located"});
    EXPECT_EQ(globalFixed(8), 20 * kOne);
    EXPECT_EQ(globalFixed(10), 10 * kOne);
    EXPECT_EQ(globalFixed(12), 30 * kOne);
    EXPECT_EQ(global(14), 42);
    source.starts[0].observer->positionError2(-5, observer);
    EXPECT_EQ(host.logs, (std::vector<std::string>{"located", "failed"}));
    EXPECT_EQ(global(16), -5);

    // An update while bytecode runs waits for it, its location kept alive.
    host.logs.clear();
    host.onLog = [&](const std::string& aLine) {
        if (aLine == "working") {
            source.starts[0].observer->positionUpdate(kOne, 2 * kOne, 3 * kOne, record);
            machine.collectWithStack();
        }
    };
    int work = machine.getMethodHandle(CAppsString("work"), 0);
    ASSERT_GE(work, 0);
    machine.callMethod(work, Vec<int>(), Vec<int>(), -1);
    EXPECT_EQ(host.logs, (std::vector<std::string>{"working", "worked", "located"}));
    EXPECT_EQ(globalFixed(8), 2 * kOne);
    host.onLog = nullptr;

    // Stop: roots gone, the source told.
    machine.stack()[1] = Word(cell(1));
    EXPECT_EQ(registry.callExtension(27, 4, 1, machine.stackAddress()), 0);
    EXPECT_EQ(source.stops, std::vector<Addr>{block});
    EXPECT_EQ(std::count(roots.begin(), roots.end(), block), 0);
    EXPECT_EQ(std::count(roots.begin(), roots.end(), Addr(observer)), 0);
}

#endif  // MCB_HAVE_HOST
