// The desktop position sources: a fixed position and a replayed NMEA log,
// seen through a recording observer (what reaches it, when, in which order),
// and the NMEA logs the runtime accepts.
#include "HostTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <QElapsedTimer>
#include <cstdio>

#include "ORaw.h"
#include "PositionSource.h"

using hosttest::processEventsFor;

namespace {

constexpr TInt64 kOne = vm::ORaw::one;

// What a position source told the observer.
struct Report {
    vm::Word observer;
    TInt64 a, b, c;  // longitude, latitude, altitude
    TInt64 accuracy;
    Kelvar::DateTime time;
    TInt32 integer;
    TInt32 error;  // 0 for a position
    qint64 at;     // ms since the recorder was made
};

struct Recorder : ext::MPositionObserver {
    std::vector<Report> reports;
    QElapsedTimer clock;
    bool insideStart = false;
    bool reportedInsideStart = false;
    std::function<void(const Report&)> onReport;

    Recorder() { clock.start(); }
    void positionUpdate(TInt64 aFirst, TInt64 aSecond, TInt64 aThird, const PositionRecord& aRecord) override
    {
        add({aRecord.observer, aFirst, aSecond, aThird, aRecord.fourth, aRecord.time, aRecord.integer, 0,
             clock.elapsed()});
    }
    void positionError(TInt32 aError, vm::Word aObserver) override
    {
        add({aObserver, 0, 0, 0, 0, Kelvar::DateTime(), 0, aError, clock.elapsed()});
    }
    void add(const Report& aReport)
    {
        reportedInsideStart = reportedInsideStart || insideStart;
        reports.push_back(aReport);
        if (onReport)
            onReport(aReport);
    }
    size_t countOf(vm::Word aObserver) const
    {
        return size_t(std::count_if(reports.begin(), reports.end(),
                                    [&](const Report& r) { return r.observer == aObserver; }));
    }
    std::vector<Report> of(vm::Word aObserver) const
    {
        std::vector<Report> result;
        for (const Report& r : reports)
            if (r.observer == aObserver)
                result.push_back(r);
        return result;
    }
};

void start(PositionSource& aSource, Recorder& aRecorder, vm::Addr aKey, vm::Word aObserver, TInt32 aInterval)
{
    aRecorder.insideStart = true;
    aSource.startUpdates(aRecorder, aKey, aObserver, aInterval);
    aRecorder.insideStart = false;
}

// Runs the event loop until the condition holds or aMilliseconds pass.
bool waitFor(const std::function<bool()>& aCondition, int aMilliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!aCondition()) {
        if (timer.elapsed() > aMilliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// "$BODY*CS" with the checksum of the body.
QByteArray sentence(const char* aBody)
{
    unsigned sum = 0;
    for (const char* p = aBody; *p; ++p)
        sum ^= unsigned(static_cast<unsigned char>(*p));
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return QByteArray("$") + aBody + tail;
}

// Four fixes 0.2 s apart on 8 December 2026, near 48.25 N 11.5 E; the
// first has an altitude (GGA) too.
QByteArray fourFixes()
{
    return sentence("GPGGA,120000.00,4815.000,N,01130.000,E,1,08,0.9,545.5,M,46.9,M,,") +
           sentence("GPRMC,120000.00,A,4815.000,N,01130.000,E,0.0,0.0,081226,,,A") +
           sentence("GPRMC,120000.20,A,4807.500,N,01130.000,E,0.0,0.0,081226,,,A") +
           sentence("GPRMC,120000.40,A,4807.500,S,00145.000,W,0.0,0.0,081226,,,A") +
           sentence("GPRMC,120000.60,A,0030.000,S,00015.000,W,0.0,0.0,081226,,,A");
}

struct HostPositionSource : ::testing::Test {
    void SetUp() override
    {
        if (!hosttest::ensureApplication())
            GTEST_SKIP() << "another application object exists";
    }
};

}  // namespace

TEST_F(HostPositionSource, AFixedPositionComesAtOnceThenEveryInterval)
{
    Recorder recorder;
    FixedPositionSource source(PositionFix{60.25, -24.5, 12, 0, QDateTime()});
    QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    start(source, recorder, 0x10000, 77, 60000);  // 60 ms
    EXPECT_TRUE(recorder.reports.empty());
    ASSERT_TRUE(waitFor([&] { return recorder.reports.size() >= 3; }));
    EXPECT_FALSE(recorder.reportedInsideStart);
    const Report& first = recorder.reports[0];
    EXPECT_EQ(first.observer, 77);
    EXPECT_EQ(first.a, -24 * kOne - kOne / 2);  // longitude first
    EXPECT_EQ(first.b, 60 * kOne + kOne / 4);
    EXPECT_EQ(first.c, 12 * kOne);
    EXPECT_EQ(first.accuracy, 0);
    EXPECT_EQ(first.integer, 0);
    EXPECT_EQ(first.error, 0);
    // Stamped with the time of the report, in UTC.
    EXPECT_EQ(first.time.getTimezone(), Kelvar::DateTime::EUtc);
    QDateTime stamp = first.time.toPlatform();
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, QDateTime::currentDateTimeUtc().addSecs(1));
    // Two intervals between the first and the third (timers may fire a
    // little early).
    EXPECT_GE(recorder.reports[2].at - first.at, 110);

    source.stopUpdates(0x10000);
    EXPECT_FALSE(source.isStarted(0x10000));
    size_t count = recorder.reports.size();
    processEventsFor(150);
    EXPECT_EQ(recorder.reports.size(), count);
}

TEST_F(HostPositionSource, FixedReportsFollowEachRequestorsIntervalAndStops)
{
    EXPECT_EQ(FixedPositionSource::periodOf(0), 1000);
    EXPECT_EQ(FixedPositionSource::periodOf(-5), 1000);
    EXPECT_EQ(FixedPositionSource::periodOf(1), 1);
    EXPECT_EQ(FixedPositionSource::periodOf(1500), 2);  // whole milliseconds, rounded up
    EXPECT_EQ(FixedPositionSource::periodOf(2000000), 2000);

    Recorder recorder;
    FixedPositionSource source(PositionFix{1, 2, 0, 0, QDateTime()});
    start(source, recorder, 0x10000, 1, 20000);     // every 20 ms
    start(source, recorder, 0x20000, 2, 60000000);  // every minute
    start(source, recorder, 0x10000, 3, 1000000);   // started already: unchanged
    // The first requestor stops itself at its fourth report.
    recorder.onReport = [&](const Report& r) {
        if (r.observer == 1 && recorder.countOf(1) == 4)
            source.stopUpdates(0x10000);
    };
    ASSERT_TRUE(waitFor([&] { return recorder.countOf(1) >= 4; }));
    processEventsFor(200);
    EXPECT_EQ(recorder.countOf(1), 4u);
    EXPECT_EQ(recorder.countOf(2), 1u);  // the one at once
    EXPECT_EQ(recorder.countOf(3), 0u);
    EXPECT_TRUE(source.isStarted(0x20000));
    source.stopUpdates(0x20000);
    source.stopUpdates(0x30000);  // never started: nothing
}

TEST_F(HostPositionSource, AnNmeaLogPlaysAtItsPaceAndEachRequestorGetsFixesItsIntervalApart)
{
    Recorder recorder;
    NmeaPositionSource source(fourFixes());
    start(source, recorder, 0x10000, 1, 0);       // every fix
    start(source, recorder, 0x20000, 2, 400000);  // 0.4 s apart
    EXPECT_TRUE(recorder.reports.empty());
    ASSERT_TRUE(waitFor([&] { return recorder.countOf(1) == 4; }));
    EXPECT_FALSE(recorder.reportedInsideStart);
    std::vector<Report> every = recorder.of(1);
    // The log's pace: 0.6 s from the first fix to the last.
    EXPECT_GE(every[3].at - every[0].at, 450);
    const TInt64 expected[4][2] = {
        {11 * kOne + kOne / 2, 48 * kOne + kOne / 4},
        {11 * kOne + kOne / 2, 48 * kOne + kOne / 8},
        {-kOne - 3 * kOne / 4, -48 * kOne - kOne / 8},
        {-kOne / 4, -kOne / 2},
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(every[i].a, expected[i][0]) << i;
        EXPECT_EQ(every[i].b, expected[i][1]) << i;
        EXPECT_EQ(every[i].accuracy, 0) << i;
        EXPECT_EQ(every[i].error, 0) << i;
        // The fix's own time (to the second).
        const Kelvar::DateTime& t = every[i].time;
        EXPECT_EQ(std::vector<TInt32>({t.getYear(), t.getMonth(), t.getDay(), t.getHour(), t.getMinute(),
                                       t.getSecond(), t.getTimezone()}),
                  std::vector<TInt32>({2026, 12, 8, 12, 0, 0, Kelvar::DateTime::EUtc}))
            << i;
    }
    EXPECT_EQ(every[0].c, 545 * kOne + kOne / 2);  // GGA's altitude
    EXPECT_EQ(every[1].c, 0);                      // none known

    std::vector<Report> spaced = recorder.of(2);
    ASSERT_EQ(spaced.size(), 2u);
    EXPECT_EQ(spaced[0].b, expected[0][1]);
    EXPECT_EQ(spaced[1].b, expected[2][1]);

    // The log has ended: nothing more, also for a requestor started now.
    start(source, recorder, 0x30000, 3, 0);
    processEventsFor(300);
    EXPECT_EQ(recorder.reports.size(), 6u);
}

TEST_F(HostPositionSource, AStoppedNmeaRequestorGetsNothingMoreAndErrorsReachTheStartedOnes)
{
    Recorder recorder;
    NmeaPositionSource source(fourFixes());
    start(source, recorder, 0x10000, 1, 0);
    start(source, recorder, 0x20000, 2, 0);
    recorder.onReport = [&](const Report& r) {
        if (r.observer == 1 && recorder.countOf(1) == 2)
            source.stopUpdates(0x10000);  // from inside its report
    };
    ASSERT_TRUE(waitFor([&] { return recorder.countOf(2) == 4; }));
    EXPECT_EQ(recorder.countOf(1), 2u);

    recorder.reports.clear();
    source.readerFailed(QGeoPositionInfoSource::ClosedError);
    source.readerFailed(QGeoPositionInfoSource::NoError);  // not an error: nothing
    source.readerFailed(QGeoPositionInfoSource::AccessError);
    ASSERT_EQ(recorder.reports.size(), 2u);
    EXPECT_EQ(recorder.reports[0].observer, 2);
    EXPECT_EQ(recorder.reports[0].error, -36);
    EXPECT_EQ(recorder.reports[1].error, -21);
    EXPECT_EQ(NmeaPositionSource::errorCode(QGeoPositionInfoSource::UpdateTimeoutError), -33);
    EXPECT_EQ(NmeaPositionSource::errorCode(QGeoPositionInfoSource::UnknownSourceError), -2);
}

TEST_F(HostPositionSource, OnlyLogsWithADatedFixAreAccepted)
{
    EXPECT_TRUE(NmeaPositionSource::holdsDatedFix(fourFixes()));
    EXPECT_TRUE(NmeaPositionSource::holdsDatedFix("junk\n" + sentence("GPRMC,120000.00,A,4815.000,N,01130.000,E,"
                                                                      "0.0,0.0,081226,,,A")));
    // Time without a date (GGA alone): the reader would never start.
    EXPECT_FALSE(NmeaPositionSource::holdsDatedFix(
        sentence("GPGGA,120000.00,4815.000,N,01130.000,E,1,08,0.9,545.5,M,46.9,M,,")));
    // A void fix, a wrong checksum, text.
    EXPECT_FALSE(NmeaPositionSource::holdsDatedFix(sentence("GPRMC,120000.00,V,,,,,,,081226,,,N")));
    EXPECT_FALSE(NmeaPositionSource::holdsDatedFix(
        "$GPRMC,120000.00,A,4815.000,N,01130.000,E,0.0,0.0,081226,,,A*00\r\n"));
    EXPECT_FALSE(NmeaPositionSource::holdsDatedFix("hello\nworld\n"));
    EXPECT_FALSE(NmeaPositionSource::holdsDatedFix(""));
}

namespace {

// An observer whose requestor asks for a report every 20 ms; each report
// counts in global 6 and leaves the latitude in globals 4 and 5 and the
// longitude in 2 and 3 (low word first); the third report terminates the
// run.
const char* const kCountingObserver = R"(
.module "observer"
.globals 8
.class App
.map plain
.map event params 2 refs 0 1
.map failure params 2 refs 0
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*locationobserver>.handle location event<*location>" impl App located map event
.virtual "<*locationobserver>.handle location error<locationerror>" impl App failed map failure
.code
done:
    ret 0, 1
main:
    new 1, 1
    dup
    setclass App
    dup
    native System 5
    globals
    field.s 7
    ldslot.s -2
    stind
    globals
    field.s 1
    ldslot.s -2
    push 0
    push 20
    extcall 27, 1
    globals
    field.s 1
    extcall 27, 3
    adjust.s -1
    ret 0, 1
located:                        ; [observer][location][ret]
    globals
    field.s 4
    ldslot.s -3
    extcall 27, 12
    storen.s 2
    globals
    field.s 2
    ldslot.s -3
    extcall 27, 13
    storen.s 2
    globals
    field.s 6
    inc.i
    globals
    field.s 6
    ldind
    push 3
    ne
    jz.s leave
    ret 0, 3
leave:
    ldstr "done"
    native System 2
    ret 0, 3
failed:
    ret 0, 3
)";

struct VmPositionSourceInWindow : hosttest::HostFixture {
    vm::Word global(int aIndex) { return machine().space().loadWord(vm::Addr(machine().globals()) + 4u * aIndex); }
};

}  // namespace

TEST_F(VmPositionSourceInWindow, ReportsReachTheProgramThroughTheWindowUntilTheRunEnds)
{
    view->usePositionSource(std::make_unique<FixedPositionSource>(PositionFix{-33.75, 151.25, 0, 0, QDateTime()}));
    ASSERT_EQ(start(std::string(kCountingObserver) + hosttest::kExceptionMethods), host::KRunGoesOn);
    EXPECT_EQ(global(6), 0);  // not inside the start
    ASSERT_TRUE(waitFor([&] { return view->terminationStatus() != host::KRunGoesOn; }));
    EXPECT_EQ(view->terminationStatus(), host::EExitTerminated);
    EXPECT_EQ(global(6), 3);
    EXPECT_EQ(global(5), -34);  // -33.75: -34 + 0.25
    EXPECT_EQ(global(4), 0x40000000);
    EXPECT_EQ(global(3), 151);
    EXPECT_EQ(global(2), 0x40000000);
    // The requestor is still started, but the ended run gets nothing more.
    processEventsFor(100);
    EXPECT_EQ(global(6), 3);
}

#endif  // MCB_HAVE_HOST
