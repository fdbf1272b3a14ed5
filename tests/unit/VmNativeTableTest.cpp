// The natives table against the groups: every function it names is
// dispatched to its group (no unknown-function error) and, on operands made
// for its kinds, moves the stack by the table's words; every function it does
// not name raises the group's own unknown-function error. The same for the
// device extensions through a real registry.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "DateTime.h"
#include "FileTestHost.h"
#include "KeyEvent.h"
#include "NativeTable.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "TestSupport.h"
#include "VirtualMachine.h"
#include "Containers/OVector.h"

#ifdef MCB_HAVE_HOST
#include "ExtensionTestSupport.h"
#include "HostTestSupport.h"
#endif

using namespace vm;

namespace {

constexpr Word kSentinel = 0x5EED;
constexpr int kPosition = 77;

// The unknown-function texts of the groups, written out here so that the
// table's labels are checked rather than trusted.
const std::map<int, std::string> kUnknownPrefix = {
    {1, "Vector:"},       {3, "Vector:"},      {4, "Vector:"},     {5, "Vector:"},      {6, "Vector:"},
    {7, "Vector:"},       {8, "String:"},      {9, "Byte:"},       {10, "Char:"},       {11, "Fixed:"},
    {12, "Long:"},        {13, "Color:"},      {14, "Range:"},     {15, "Size:"},       {16, "Position:"},
    {17, "Rectangle:"},   {18, "Graphics:"},   {19, "Bitmap:"},    {20, "Font:"},       {21, "OutputStream:"},
    {22, "FileWriter:"},  {23, "InputStream:"}, {24, "FileReader:"}, {25, "FileSystem:"}, {26, "Math:"},
    {27, "Number:"},      {28, "Encoder:"},    {29, "DateTime:"},  {30, "Debug:"},      {31, "Screen:"},
    {32, "System:"},      {33, "Timer:"},      {34, "Hash:"},      {35, "KeyEvent: invalid opcode "},
    {36, "Float: invalid opcode: "},
};

std::string unknownText(int group, int function)
{
    // Float names the function number, every other group the position.
    return "VMException: " + kUnknownPrefix.at(group) + std::to_string(group == 36 ? function : kPosition);
}

bool graphicsAvailable()
{
#ifdef MCB_HAVE_HOST
    return hosttest::ensureApplication();
#else
    return false;
#endif
}

// A VM on a file host with operands made for the kinds of the table.
struct Bench {
    FileTestHost& host;
    VirtualMachine vm;
    bool graphics;
    int group = 0;  // of the function whose operands are made

    Bench(FileTestHost& aHost, bool aGraphics) : host(aHost), graphics(aGraphics)
    {
        vm.setHost(&host);
        vm.pc = kPosition;
        vm.top = -1;
        vm.push(kSentinel);
    }

    VMHeap& heap() { return vm.heap(); }
    Word keep(Addr block)
    {
        heap().addRoot(block);
        return Word(block);
    }
    Word block(int words) { return keep(heap().alloc(uint32_t(4 * words), 0, GC_CODE_NATIVE)); }
    Word string(const char* text) { return keep(newStringObject(heap(), OString(text))); }
    Word byteVector(const char* bytes)
    {
        OVector v = OVector::create(heap(), 1, int(std::strlen(bytes)));
        std::memcpy(v.data(), bytes, std::strlen(bytes));
        return keep(v.holder());
    }
    // Calls a native on the given words; the words it leaves are dropped.
    void native(int group, int function, std::initializer_list<Word> words)
    {
        int top = vm.top;
        for (Word w : words)
            vm.push(w);
        vm.callNative(group, function);
        vm.top = top;
    }
    Word bitmap()
    {
        Word cell = keep(newBox(heap(), 0));
        if (graphics)
            native(19, 1, {cell, 4, 3, Word(0xFF102030)});
        return cell;
    }
    Word fileObject(bool reader)
    {
        Word object = block(1);
        if (reader) {
            spit(host.path("in.bin"), "hello");
            native(24, 1, {object, string("in.bin")});
        } else {
            native(22, 1, {object, string("out.bin"), 0});
        }
        return object;
    }

    // Pushes one operand of the kind.
    void push(std::string_view kind, int elementWords)
    {
        auto words = [&](std::initializer_list<Word> w) {
            for (Word x : w)
                vm.push(x);
        };
        if (kind == "int" || kind == "byte")
            words({1});
        else if (kind == "char")
            words({'a'});
        else if (kind == "bool")
            words({-1});
        else if (kind == "word")
            words({0});
        else if (kind == "colour")
            words({Word(0xFF00FF00)});
        else if (kind == "float")
            words({std::bit_cast<Word>(1.5f)});
        else if (kind == "fixed")
            words({0, 1});  // 1.0
        else if (kind == "range")
            words({0, 1});
        else if (kind == "size" || kind == "pos")
            words({1, 1});
        else if (kind == "rect")
            words({0, 0, 1, 1});
        else if (kind == "elem")
            for (int i = 0; i < elementWords; ++i)
                words({1});
        else if (kind == "addr")
            words({block(4)});
        else if (kind == "cell")
            words({keep(newBox(heap(), 0))});
        else if (kind == "obj")
            words({block(2)});
        else if (kind == "str")
            words({string("12")});
        else if (kind == "long") {
            Word l = block(2);
            vm.space().storeWord(Addr(l), 1);
            words({l});
        } else if (kind == "bytes")
            words({byteVector("abc")});
        else if (kind == "vec") {  // three elements of the group's kind
            OVector v = OVector::create(heap(), group == 1 ? 1 : uint32_t(4 * elementWords), 3, group == 7);
            words({keep(v.holder())});
        } else if (kind == "hash") {
            Word cell = keep(newBox(heap(), 0));
            native(34, 1, {cell, 0});
            words({cell});
        }
        else if (kind == "date")
            words({keep(newDateTimeObject(heap(), Kelvar::DateTime()))});
        else if (kind == "font")
            words({keep(newBox(heap(), 0))});  // an object without a font: measures 0
        else if (kind == "bitmap" || kind == "graphics")
            words({bitmap()});
        else if (kind == "keyevent")
            words({keep(heap().construct<Kelvar::KeyEvent>(Kelvar::KeyEvent::kBlockSize, GC_CODE_NATIVE, 65, 38, 0,
                                                           OString("a")))});
        else if (kind == "reader" || kind == "writer")
            words({fileObject(kind == "reader")});
        else
            FAIL() << "no operand for kind " << kind;
    }

    void pushOperands(const NativeFunctionInfo& f, int elementWords)
    {
        std::string_view rest(f.operands);
        while (!rest.empty()) {
            size_t end = rest.find(' ');
            push(tokenKind(rest.substr(0, end)), elementWords);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
};

struct Outcome {
    bool raised = false;
    std::pair<int, std::string> error;
    int top = 0;
};

Outcome callOn(Bench& b, int group, int function)
{
    Outcome o;
    try {
        o.error = errorOf([&] {
            b.vm.callNative(group, function);
            if (b.vm.gcStress())
                b.vm.collectWithStack();
        });
        o.raised = o.error.first != 0;
    } catch (const TerminationSignal&) {
        o.raised = true;
        o.error = {11, "fatal"};
    }
    o.top = b.vm.top;
    return o;
}

}  // namespace

TEST(VmNativeTable, NamesKindsAndNumbersAreWellFormed)
{
    std::set<std::pair<int, std::string> > names;
    int previousGroup = 0, previousFunction = -1;
    for (const NativeFunctionInfo& f : nativeFunctions()) {
        const NativeGroupInfo* g = nativeGroup(f.group);
        ASSERT_NE(g, nullptr) << f.qualifiedName();
        EXPECT_STREQ(g->name, f.groupName);
        EXPECT_TRUE(f.function >= 0 && f.function <= 255) << f.qualifiedName();
        EXPECT_TRUE(f.group > previousGroup || f.function > previousFunction) << "repeated " << f.qualifiedName();
        previousGroup = f.group;
        previousFunction = f.function;
        std::string lower;
        for (char c : std::string(f.name))
            lower += char(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(names.insert({f.group, lower}).second) << "name used twice: " << f.qualifiedName();
        EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(f.name[0]))) << f.qualifiedName();
        EXPECT_GT(std::strlen(f.description), 0u) << f.qualifiedName();
    }
    // Only the String group has function numbers from 128 on.
    for (const NativeFunctionInfo& f : nativeFunctions())
        EXPECT_TRUE(f.function < 128 || f.group == 8) << f.qualifiedName();
    EXPECT_EQ(nativeGroup(2), nullptr);
    EXPECT_EQ(nativeGroup(37), nullptr);
    EXPECT_EQ(kindWords("fixed", 0), 2);
    EXPECT_EQ(kindWords("rect", 0), 4);
    EXPECT_EQ(kindWords("elem", 3), 3);
    EXPECT_EQ(kindWords("elem", 0), -1);
    EXPECT_EQ(kindWords("nonsense", 0), -1);
    // A few rows, word for word.
    const NativeFunctionInfo* drawText = nativeFunction(18, 3);
    ASSERT_NE(drawText, nullptr);
    EXPECT_EQ(drawText->qualifiedName(), "Graphics.drawSubstring");
    EXPECT_EQ(drawText->operandWords, 8);
    EXPECT_EQ(drawText->resultWords, 0);
    const NativeFunctionInfo* transformed = nativeFunction(18, 10);
    ASSERT_NE(transformed, nullptr);
    EXPECT_EQ(transformed->operandWords, 11);
    const NativeFunctionInfo* substring = nativeFunction(8, int8_t(150));
    ASSERT_NE(substring, nullptr);
    EXPECT_EQ(substring->qualifiedName(), "String.substring");
    EXPECT_EQ(substring->operandWords, 3);
    EXPECT_EQ(substring, nativeFunction(8, 150));
    EXPECT_EQ(nativeFunction(8, 3), nullptr);
    EXPECT_EQ(nativeFunction(8, 256 + 10), nullptr);
    EXPECT_FALSE(isNativeFunction(12, 4));
    EXPECT_TRUE(isNativeFunction(36, 0));
}

TEST(VmNativeTable, EveryNamedFunctionIsDispatchedAndMovesTheStackByItsWords)
{
    FileTestHost host;
    const bool graphics = graphicsAvailable();
    int effects = 0;
    for (const NativeFunctionInfo& f : nativeFunctions()) {
        SCOPED_TRACE(f.qualifiedName());
        const NativeGroupInfo& g = *nativeGroup(f.group);
        Bench b(host, graphics);
        b.group = f.group;
        b.pushOperands(f, g.elementWords);
        ASSERT_EQ(b.vm.top, f.operandWords);
        Outcome o = callOn(b, f.group, int8_t(f.function));
        EXPECT_NE(o.error.second, unknownText(f.group, int8_t(f.function)));
        EXPECT_EQ(b.vm.stack()[0], kSentinel);
        if (!o.raised) {
            EXPECT_EQ(o.top, f.resultWords) << "moved by " << o.top - f.operandWords;
            ++effects;
        }
    }
    // Most functions succeed on these operands (the rest raise errors of
    // their own: a file that is not there, a range past the text, ...).
    EXPECT_GE(effects, graphics ? 440 : 405);
}

TEST(VmNativeTable, EveryOtherFunctionIsUnknownToItsGroup)
{
    FileTestHost host;
    for (const NativeGroupInfo& g : nativeGroups()) {
        Bench b(host, false);
        for (int i = 0; i < 16; ++i)
            b.vm.push(0);
        int top = b.vm.top;
        for (int byte = 0; byte < 256; ++byte) {
            int function = int8_t(byte);
            if (nativeFunction(g.number, function))
                continue;
            SCOPED_TRACE(std::string(g.name) + " " + std::to_string(byte));
            Outcome o = callOn(b, g.number, function);
            EXPECT_EQ(o.error, (std::pair<int, std::string>{10, unknownText(g.number, function)}));
            EXPECT_EQ(o.top, top);
        }
    }
}

TEST(VmNativeTable, InvalidGroupsEndTheRun)
{
    FileTestHost host;
    Bench b(host, false);
    ::testing::internal::CaptureStderr();
    for (int group : {0, 2, 37, -1}) {
        Outcome o = callOn(b, group, 1);
        EXPECT_EQ(o.error.first, 11) << group;
    }
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("FATAL: Internal error: invalid group in native call: 37"),
              std::string::npos);
}

#ifdef MCB_HAVE_HOST

namespace {

// The VM side an extension sees, recording the fatal messages it reports.
class RecordingVm : public MVMCallbackInterface {
public:
    explicit RecordingVm(VirtualMachine& aVm) : iVm(aVm) {}
    int getMethodHandle(const CAppsString& aSignature, int aModule) override
    {
        return iVm.getMethodHandle(aSignature, aModule);
    }
    Word callMethod(int aHandle, const Vec<int>& aArguments, const Vec<int>& aLevels, int aResult) override
    {
        return iVm.callMethod(aHandle, aArguments, aLevels, aResult);
    }
    [[noreturn]] void fatalError(std::string_view aMessage, int aPosition) override
    {
        fatal = std::string(aMessage);
        iVm.fatalError(aMessage, aPosition);
        std::abort();
    }
    VMHeap& getHeap() override { return iVm.getHeap(); }
    Word wrap(int aLevels, Word aValue, int aGcCode) override { return iVm.wrap(aLevels, aValue, aGcCode); }

    std::string fatal;

private:
    VirtualMachine& iVm;
};

struct VmExtensionTable : ::testing::Test {
    FileTestHost host;
    std::string scratch = host.path("scratch");

    void SetUp() override
    {
        // No sound server, no camera, a platform command that does nothing.
        setenv("PULSE_SERVER", (scratch + "/no-server").c_str(), 1);
        setenv("MCB_VIDEO_DEVICE", (scratch + "/video0").c_str(), 1);
        setenv("MCB_LENS_COVER_NODE", (scratch + "/cover").c_str(), 1);
        setenv("MCB_ACCELEROMETER_NODE", (scratch + "/coord").c_str(), 1);
        setenv("MCB_PLATFORM_COMMAND", "true", 1);
        spit(host.path("sound.raw"), std::string(64, '\1'));
    }
    void TearDown() override
    {
        for (const char* v : {"PULSE_SERVER", "MCB_VIDEO_DEVICE", "MCB_LENS_COVER_NODE", "MCB_ACCELEROMETER_NODE",
                              "MCB_PLATFORM_COMMAND"})
            unsetenv(v);
    }
};

}  // namespace

TEST_F(VmExtensionTable, EveryNamedOperationIsDispatchedAndEveryOtherIsUnknown)
{
    const std::map<int, std::string> kMessages = {{20, "SensorDLL: Unknown opcode!"},
                                                  {27, "Location: Unknown opcode!"},
                                                  {28, "AudioPlayer: Unknown opcode!"},
                                                  {30, "AudioMixer: Unknown opcode!"},
                                                  {36, "Torch: Unknown opcode!"},
                                                  {37, "Maemo: Unknown opcode!"}};
    ASSERT_EQ(extensions().size(), kMessages.size());
    ::testing::internal::CaptureStderr();  // the fatal messages of the unknown operations
    for (const ExtensionInfo& e : extensions()) {
        EXPECT_EQ(kMessages.at(e.number), e.unknownMessage);
        Bench b(host, false);
        RecordingVm recording(b.vm);
        ExtensionRegistry registry;
        registry.setUp(&recording, &host);
        auto call = [&](int operation) {
            int top = b.vm.top;
            int result = top;
            std::pair<int, std::string> error = errorOf([&] {
                result = registry.callExtension(e.number, operation, top, b.vm.stackAddress());
            });
            b.vm.top = result;
            return error;
        };
        // A cell holding a native object of the extension, made by its
        // creating operation.
        auto created = [&](std::string_view aKind) {
            Word cell = b.keep(newBox(b.heap(), 0));
            int top = b.vm.top;
            b.vm.push(cell);
            int operation = 1;
            if (aKind == "player") {
                b.vm.push(b.byteVector("\1\2\3\4"));
                b.vm.push(0);
                operation = 2;
            } else if (aKind == "requestor") {
                b.vm.push(b.block(2));
                b.vm.push(0);
                b.vm.push(1);
            } else if (aKind == "location") {
                for (int i = 0; i < 6; ++i)
                    b.vm.push(0);
                b.vm.push(b.keep(newDateTimeObject(b.heap(), Kelvar::DateTime())));
                operation = 5;
            }
            registry.callExtension(e.number, operation, b.vm.top, b.vm.stackAddress());
            b.vm.top = top;
            return cell;
        };
        for (int operation = 0; operation < 256; ++operation) {
            const NativeFunctionInfo* op = extensionOperation(e.number, operation);
            SCOPED_TRACE(std::string(e.name) + " " + std::to_string(operation));
            b.vm.top = 0;
            recording.fatal.clear();
            if (!op) {
                for (int i = 0; i < 8; ++i)
                    b.vm.push(0);
                EXPECT_EQ(call(operation).first, 11);
                EXPECT_EQ(recording.fatal, e.unknownMessage);
                continue;
            }
            std::string_view rest(op->operands);
            while (!rest.empty()) {
                size_t end = rest.find(' ');
                std::string_view kind = tokenKind(rest.substr(0, end));
                if (kind == "str")
                    b.vm.push(b.string("sound.raw"));
                else if (kind == "mixer" || kind == "player" || kind == "location" || kind == "requestor")
                    b.vm.push(created(kind));
                else
                    b.push(kind, 0);
                rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            }
            ASSERT_EQ(b.vm.top, op->operandWords);
            std::pair<int, std::string> error = call(operation);
            EXPECT_EQ(recording.fatal, "") << error.second;
            EXPECT_EQ(error.first, 0) << error.second;
            if (error.first == 0) {
                EXPECT_EQ(b.vm.top, op->resultWords);
            }
        }
    }
    ::testing::internal::GetCapturedStderr();
}

#endif  // MCB_HAVE_HOST
