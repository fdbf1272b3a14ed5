#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QDate>
#include <QTemporaryDir>

#include <algorithm>
#include <random>
#include <string>

#include "IO/CAppsFileReader.h"
#include "IO/CAppsFileWriter.h"
#include "IO/MemoryStream.h"
#include "Utility/TraceLog.h"

using Trace::TraceLog;
using namespace std::string_literals;

namespace {

// Big-endian byte strings, built independently of the code under test.
std::string be(uint64_t aValue, int aBytes)
{
    std::string s;
    for (int i = aBytes - 1; i >= 0; --i)
        s += char(aValue >> (8 * i));
    return s;
}
std::string tag(int aType, int32_t aLength)
{
    return std::string(1, char(aType)) + be(uint32_t(aLength), 4);
}
std::string stringNode(const std::string& aLatin1)
{
    std::string s = tag(1, int32_t(aLatin1.size() * 2));
    for (char c : aLatin1)
        s += std::string(1, '\0') + c;
    return s;
}
std::string dateNode(int aYear, int aMonth, int aDay)
{
    return tag(3, 7) + be(uint32_t(aYear), 2) + char(aMonth) + char(aDay) + std::string(3, '\0');
}
// A header with producer "p", reserved 0, 2000-01-02 and 1000000 ticks.
std::string header()
{
    return tag(5, 33) + "\x01\x00"s + stringNode("p") + be(0, 4) + dateNode(2000, 1, 2) + be(1000000, 8);
}
std::string logFields(int64_t aL64, int32_t aL32)
{
    return be(uint64_t(aL64), 8) + be(uint32_t(aL32), 4);
}

std::string written(const TraceLog::NodeBase& aNode)
{
    Vec<TUint8> bytes;
    CAppsFileWriter writer(new KELVAR::MemoryOutputStream(&bytes));
    Trace::writeNode(writer, aNode);
    return std::string(reinterpret_cast<const char*>(bytes.data()), size_t(bytes.count()));
}

struct Read {
    bool ok;
    std::string error;
    TraceLog document;
};

Read readBytes(const std::string& aBytes, bool aRecords = true)
{
    CAppsFileReader reader(reinterpret_cast<const TUint8*>(aBytes.data()), TUint32(aBytes.size()));
    Read r;
    CAppsString error;
    r.ok = Trace::readTraceFile(r.document, reader, &error, aRecords);
    r.error = error.toLatin1();
    return r;
}

template <typename T>
const T& nodeAt(const TraceLog& aDocument, size_t aIndex)
{
    const T* node = dynamic_cast<const T*>(aDocument.nodes.at(aIndex).get());
    if (!node)
        throw std::runtime_error("node " + std::to_string(aIndex) + " has another type");
    return *node;
}

std::string latin1(const CAppsString& aText)
{
    return aText.toLatin1();
}

}  // namespace

TEST(TraceLogFormat, NodeBytes)
{
    EXPECT_EQ(written(TraceLog::StringNode(CAppsString("ab"))), "\x01\x00\x00\x00\x04\x00\x61\x00\x62"s);

    TraceLog::HeaderNode empty;
    std::string h = written(empty);
    EXPECT_EQ(h.substr(0, 5), tag(5, 31));
    EXPECT_EQ(h.size(), 5u + 31u);

    TraceLog::MethodCallNode call;
    call.l64 = 0x0102030405060708;
    call.l32 = -2;
    call.value = 0x2A;
    EXPECT_EQ(written(call), tag(102, 16) + logFields(0x0102030405060708, -2) + be(0x2A, 4));

    TraceLog::GarbageCollectionNode gc;
    gc.l64 = 1;
    gc.l32 = 2;
    gc.e32 = 3;
    gc.e64 = -1;
    EXPECT_EQ(written(gc), tag(104, 24) + logFields(1, 2) + be(3, 4) + std::string(8, '\xFF'));

    TraceLog::BinaryNode binary;
    binary.name.text = CAppsString("n");
    binary.data.bytes.append(0xAB);
    binary.value2 = 7;
    EXPECT_EQ(written(binary), tag(101, 32 + 7 + 6) + logFields(0, 0) + be(0, 4) + be(0, 8) + stringNode("n") +
                                   tag(4, 1) + "\xAB"s + be(0, 4) + be(7, 4));
}

TEST(TraceLogFormat, WriterHeaderAndNodesInOrder)
{
    QTemporaryDir tmp;
    std::string path = tmp.path().toStdString() + "/t.trace";
    TraceLog document;
    document.header.producer.text = CAppsString("not written");
    auto stop = std::make_unique<TraceLog::StopTraceNode>();
    stop->l64 = 5;
    document.nodes.push_back(std::make_unique<TraceLog::MethodReturnNode>());
    document.nodes.push_back(std::move(stop));
    ASSERT_TRUE(Trace::writeTraceFile(document, CAppsString(std::string_view(path))));

    const QDate today = QDate::currentDate();
    std::string expected = tag(5, 31 + 42) + "\x01\x00"s + stringNode("Tavix Studio Emulator") + be(0, 4) +
                           dateNode(today.year(), today.month(), today.day()) + be(1000000, 8) +
                           tag(103, 12) + logFields(0, 0) + tag(105, 12) + logFields(5, 0);
    EXPECT_EQ(slurp(path), expected);
}

TEST(TraceLogFormat, WriterFailures)
{
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    TraceLog document;
    document.nodes.push_back(std::make_unique<TraceLog::MethodReturnNode>());
    document.nodes.push_back(std::make_unique<TraceLog::StringNode>(CAppsString("x")));
    document.nodes.push_back(std::make_unique<TraceLog::MethodReturnNode>());
    // A node outside 101..109 ends the writing: header and first node stay.
    EXPECT_FALSE(Trace::writeTraceFile(document, CAppsString(std::string_view(dir + "/bad.trace"))));
    EXPECT_EQ(slurp(dir + "/bad.trace").size(), 5u + 73u + 17u);

    document.nodes.pop_back();
    document.nodes.pop_back();
    spit(dir + "/file", "x");
    EXPECT_FALSE(Trace::writeTraceFile(document, CAppsString(std::string_view(dir + "/file/t.trace"))));
    EXPECT_FALSE(Trace::writeTraceFile(document, CAppsString("relative.trace")));
    EXPECT_TRUE(Trace::writeTraceFile(document, CAppsString(std::string_view(dir + "/made/t.trace"))));
}

TEST(TraceLogFormat, ReadsHeaderAndRecords)
{
    Read r = readBytes(header() + tag(106, 16) + logFields(1, 0) + be(99, 4) + tag(107, 12 + 9) +
                       logFields(2, 3) + stringNode("hi") + tag(103, 12) + logFields(4, 2));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.document.header.versionMajor, 1);
    EXPECT_EQ(latin1(r.document.header.producer.text), "p");
    EXPECT_EQ(r.document.header.created.year, 2000);
    EXPECT_EQ(r.document.header.created.day, 2);
    EXPECT_EQ(r.document.header.ticksPerSecond, 1000000);
    ASSERT_EQ(r.document.nodes.size(), 3u);
    EXPECT_EQ(nodeAt<TraceLog::StartTraceNode>(r.document, 0).value, 99);
    EXPECT_EQ(latin1(nodeAt<TraceLog::MessageNode>(r.document, 1).text.text), "hi");
    EXPECT_EQ(nodeAt<TraceLog::MessageNode>(r.document, 1).l32, 3);
    EXPECT_EQ(nodeAt<TraceLog::MethodReturnNode>(r.document, 2).l64, 4);

    Read headerOnly = readBytes(header() + tag(103, 12) + logFields(4, 2), false);
    EXPECT_TRUE(headerOnly.ok);
    EXPECT_TRUE(headerOnly.document.nodes.empty());
}

TEST(TraceLogFormat, SurplusSkippedAndOddStringByteDropped)
{
    // A return record three bytes longer than its fields, then a call.
    Read r = readBytes(header() + tag(103, 15) + logFields(7, 1) + "xyz" + tag(102, 16) + logFields(8, 2) +
                       be(5, 4));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.document.nodes.size(), 2u);
    EXPECT_EQ(nodeAt<TraceLog::MethodReturnNode>(r.document, 0).l64, 7);
    EXPECT_EQ(nodeAt<TraceLog::MethodCallNode>(r.document, 1).value, 5);

    // A message whose string payload has 5 bytes keeps two units.
    Read odd = readBytes(header() + tag(107, 12 + 10) + logFields(0, 0) + tag(1, 5) + "\x00\x41\x01\x42\x43"s);
    ASSERT_TRUE(odd.ok) << odd.error;
    const CAppsString& text = nodeAt<TraceLog::MessageNode>(odd.document, 0).text.text;
    ASSERT_EQ(text.count(), 2);
    EXPECT_EQ(text[0], 0x41);
    EXPECT_EQ(text[1], 0x142);
}

TEST(TraceLogFormat, ReaderErrors)
{
    const std::string h = header();
    const std::string at = "Error while reading location: ";
    // The file ends inside a length field.
    Read cut = readBytes(h + "\x66\x00\x00"s);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.error, at + std::to_string(h.size() + 3) + "unexpected end of file");
    EXPECT_EQ(readBytes(h.substr(0, 3)).error, at + "3unexpected end of file");
    EXPECT_EQ(readBytes("").error, at + "0unexpected end of file");

    for (int type : {100, 110, 0, 255}) {
        Read r = readBytes(h + tag(103, 12) + logFields(0, 0) + tag(type, 12) + logFields(0, 0));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, at + std::to_string(h.size() + 18) + "Invalid type: " + std::to_string(type));
        EXPECT_EQ(r.document.nodes.size(), 1u) << "the nodes read before stay";
    }

    EXPECT_EQ(readBytes(tag(102, 16) + logFields(0, 0) + be(0, 4)).error,
              at + "1invalid type (expecting type: 5) 102");
    std::string wrongProducer = h;
    wrongProducer[7] = 2;
    EXPECT_EQ(readBytes(wrongProducer).error, at + "8invalid type (expecting type: 1) 2");

    EXPECT_EQ(readBytes(h + tag(103, -1)).error, at + std::to_string(h.size() + 5) + "invalid length: -1");
    EXPECT_EQ(readBytes(h + tag(103, 13) + logFields(0, 0)).error,
              at + std::to_string(h.size() + 5) + "invalid length: 13");
    // An embedded string longer than the header payload around it.
    EXPECT_EQ(readBytes(tag(5, 31) + "\x01\x00"s + tag(1, 101) + std::string(100, 'a')).error,
              at + "12invalid length: 101");

    // A call record that claims 12 bytes reads 16: kept, then refused.
    Read over = readBytes(h + tag(102, 12) + logFields(1, 1) + be(3, 4) + tag(103, 12) + logFields(0, 0));
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.error, at + std::to_string(h.size() + 21) + "read: length exceeded");
    ASSERT_EQ(over.document.nodes.size(), 1u);
    // A call record whose fields run past the end of the file.
    EXPECT_EQ(readBytes(h + tag(102, 12) + logFields(1, 1)).error,
              at + std::to_string(h.size() + 17) + "unexpected end of file");

    QTemporaryDir tmp;
    CAppsFileReader missing(CAppsString(std::string_view(tmp.path().toStdString() + "/none")));
    TraceLog document;
    CAppsString error;
    EXPECT_FALSE(Trace::readTraceFile(document, missing, &error, true));
    EXPECT_EQ(error.toLatin1(), at + "0File is not open");
    EXPECT_FALSE(Trace::readTraceFile(document, missing, nullptr, true));
}

TEST(TraceLogFormat, RoundTripOfEveryNodeTypeWithRandomFields)
{
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/round.trace";
    std::mt19937_64 random(20240613);
    auto i64 = [&] { return int64_t(random()); };
    auto i32 = [&] { return int32_t(random()); };
    auto text = [&] {
        CAppsString s;
        for (int n = int(random() % 20); n > 0; --n)
            s.append((unsigned short)random());
        return s;
    };

    for (int round = 0; round < 20; ++round) {
        TraceLog document;
        struct Fields {
            int type;
            int64_t l64, e64;
            int32_t l32, e32, a, b;
            CAppsString s;
            Vec<unsigned char> bytes;
        };
        std::vector<Fields> expected;
        for (int type = 101; type <= 109; ++type) {
            Fields f{type, i64(), i64(), i32(), i32(), i32(), i32(), text(), {}};
            for (int n = int(random() % 30); n > 0; --n)
                f.bytes.append((unsigned char)random());
            expected.push_back(f);
            std::unique_ptr<TraceLog::NodeBase> node = TraceLog::createLogNode(type);
            auto& log = dynamic_cast<TraceLog::LogNode&>(*node);
            log.l64 = f.l64;
            log.l32 = f.l32;
            if (auto* entity = dynamic_cast<TraceLog::EntityNode*>(node.get())) {
                entity->e32 = f.e32;
                entity->e64 = f.e64;
            }
            if (auto* n = dynamic_cast<TraceLog::BinaryNode*>(node.get())) {
                n->name.text = f.s;
                n->data.bytes = f.bytes;
                n->value1 = f.a;
                n->value2 = f.b;
            } else if (auto* n = dynamic_cast<TraceLog::MethodCallNode*>(node.get())) {
                n->value = f.a;
            } else if (auto* n = dynamic_cast<TraceLog::StartTraceNode*>(node.get())) {
                n->value = f.a;
            } else if (auto* n = dynamic_cast<TraceLog::MessageNode*>(node.get())) {
                n->text.text = f.s;
            } else if (auto* n = dynamic_cast<TraceLog::ExceptionThrownNode*>(node.get())) {
                n->value1 = f.a;
                n->value2 = f.b;
            } else if (auto* n = dynamic_cast<TraceLog::ExceptionCaughtNode*>(node.get())) {
                n->value = f.a;
            }
            document.nodes.push_back(std::move(node));
        }
        std::shuffle(document.nodes.begin(), document.nodes.end(), random);
        ASSERT_TRUE(Trace::writeTraceFile(document, CAppsString(std::string_view(path))));

        CAppsFileReader reader{CAppsString(std::string_view(path))};
        TraceLog back;
        CAppsString error;
        ASSERT_TRUE(Trace::readTraceFile(back, reader, &error, true)) << error.toLatin1();
        EXPECT_EQ(latin1(back.header.producer.text), "Tavix Studio Emulator");
        ASSERT_EQ(back.nodes.size(), document.nodes.size());
        for (size_t i = 0; i < back.nodes.size(); ++i) {
            const int type = document.nodes[i]->typeCode();
            ASSERT_EQ(back.nodes[i]->typeCode(), type);
            const Fields& f = expected[size_t(type - 101)];
            const auto& log = dynamic_cast<const TraceLog::LogNode&>(*back.nodes[i]);
            EXPECT_EQ(log.l64, f.l64);
            EXPECT_EQ(log.l32, f.l32);
            if (auto* entity = dynamic_cast<const TraceLog::EntityNode*>(&log)) {
                EXPECT_EQ(entity->e32, f.e32);
                EXPECT_EQ(entity->e64, f.e64);
            }
            if (auto* n = dynamic_cast<const TraceLog::BinaryNode*>(&log)) {
                EXPECT_TRUE(n->name.text == f.s);
                ASSERT_EQ(n->data.bytes.count(), f.bytes.count());
                for (int k = 0; k < f.bytes.count(); ++k)
                    EXPECT_EQ(n->data.bytes[k], f.bytes[k]);
                EXPECT_EQ(n->value1, f.a);
                EXPECT_EQ(n->value2, f.b);
            } else if (auto* n = dynamic_cast<const TraceLog::MethodCallNode*>(&log)) {
                EXPECT_EQ(n->value, f.a);
            } else if (auto* n = dynamic_cast<const TraceLog::StartTraceNode*>(&log)) {
                EXPECT_EQ(n->value, f.a);
            } else if (auto* n = dynamic_cast<const TraceLog::MessageNode*>(&log)) {
                EXPECT_TRUE(n->text.text == f.s);
            } else if (auto* n = dynamic_cast<const TraceLog::ExceptionThrownNode*>(&log)) {
                EXPECT_EQ(n->value1, f.a);
                EXPECT_EQ(n->value2, f.b);
            } else if (auto* n = dynamic_cast<const TraceLog::ExceptionCaughtNode*>(&log)) {
                EXPECT_EQ(n->value, f.a);
            }
        }
    }
}
