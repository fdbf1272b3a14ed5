#include "TraceLog.h"

#include <QDate>
#include <climits>
#include <new>

#include "../IO/CAppsFileReader.h"
#include "../IO/CAppsFileWriter.h"
#include "../VirtualMachine/VMError.h"

namespace Trace {

namespace {

const char kEndOfFile[] = "unexpected end of file";

TUint8 readU8(CAppsFileReader& aReader)
{
    TUint8 value;
    if (!aReader.readByte(value))
        throw TraceLog::ReadError(kEndOfFile);
    return value;
}

TInt32 readI32(CAppsFileReader& aReader)
{
    TInt32 value;
    if (!aReader.readInt32(value))
        throw TraceLog::ReadError(kEndOfFile);
    return value;
}

TInt64 readI64(CAppsFileReader& aReader)
{
    TInt64 value;
    if (!aReader.readInt64(value))
        throw TraceLog::ReadError(kEndOfFile);
    return value;
}

// The bytes of a payload; the length has been checked against the data left.
void readPayloadBytes(CAppsFileReader& aReader, TInt32 aLength, Vec<unsigned char>& aBytes)
{
    aBytes.clear();
    if (!aReader.readBytes(aBytes, aLength))
        throw TraceLog::ReadError(kEndOfFile);
}

void check(TBool aWritten)
{
    if (!aWritten)
        throw TraceLog::WriteError("write failed");
}

// A length field: present, not negative, and within the data left.
TInt32 readLength(CAppsFileReader& aReader)
{
    TInt32 length = readI32(aReader);
    if (length < 0 || TInt64(length) > TInt64(aReader.streamSize()) - aReader.position())
        throw TraceLog::ReadError("invalid length: " + std::to_string(length));
    return length;
}

// Moves from the end of what a node read to the end of its payload.
void skipTo(CAppsFileReader& aReader, TInt64 aEnd)
{
    if (aReader.position() > aEnd)
        throw TraceLog::ReadError("read: length exceeded");
    if (aReader.position() < aEnd && !aReader.setPosition(TInt32(aEnd)))
        throw TraceLog::ReadError(kEndOfFile);
}

}  // namespace

// ---------------------------------------------------------------------------
// Payloads

void TraceLog::NodeBase::read(CAppsFileReader&, TInt32) {}

void TraceLog::StringNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    Vec<unsigned char> bytes;
    readPayloadBytes(aReader, aLength, bytes);
    CAppsString units;
    units.setCapacity(aLength / 2);
    for (int i = 0; i + 1 < bytes.count(); i += 2)
        units.append((unsigned short)(bytes.data()[i] << 8 | bytes.data()[i + 1]));
    text.swap(units);
}

void TraceLog::StringNode::write(CAppsFileWriter& aWriter) const
{
    std::vector<TUint8> bytes(size_t(text.count()) * 2);
    for (int i = 0; i < text.count(); ++i) {
        bytes[size_t(i) * 2] = TUint8(text.data()[i] >> 8);
        bytes[size_t(i) * 2 + 1] = TUint8(text.data()[i]);
    }
    check(aWriter.writeByteBufferToFile(bytes.data(), TInt32(bytes.size())));
}

void TraceLog::DateTimeNode::read(CAppsFileReader& aReader, TInt32)
{
    int16_t y;
    if (!aReader.readInt16(y))
        throw ReadError(kEndOfFile);
    year = y;
    month = readU8(aReader);
    day = readU8(aReader);
    hour = readU8(aReader);
    minute = readU8(aReader);
    second = readU8(aReader);
}

void TraceLog::DateTimeNode::write(CAppsFileWriter& aWriter) const
{
    check(aWriter.writeInt16(year));
    for (TUint8 field : {month, day, hour, minute, second})
        check(aWriter.writeByte(field));
}

void TraceLog::DataNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    readPayloadBytes(aReader, aLength, bytes);
}

void TraceLog::DataNode::write(CAppsFileWriter& aWriter) const
{
    check(aWriter.writeBytes(bytes, 0, -1));
}

void TraceLog::HeaderNode::read(CAppsFileReader& aReader, TInt32)
{
    versionMajor = readU8(aReader);
    versionMinor = readU8(aReader);
    readNode(aReader, producer);
    reserved = readI32(aReader);
    readNode(aReader, created);
    ticksPerSecond = readI64(aReader);
}

void TraceLog::HeaderNode::write(CAppsFileWriter& aWriter) const
{
    check(aWriter.writeByte(versionMajor));
    check(aWriter.writeByte(versionMinor));
    writeNode(aWriter, producer);
    check(aWriter.writeInt32(reserved));
    writeNode(aWriter, created);
    check(aWriter.writeInt64(ticksPerSecond));
}

void TraceLog::LogNode::read(CAppsFileReader& aReader, TInt32)
{
    l64 = readI64(aReader);
    l32 = readI32(aReader);
}

void TraceLog::LogNode::write(CAppsFileWriter& aWriter) const
{
    check(aWriter.writeInt64(l64));
    check(aWriter.writeInt32(l32));
}

void TraceLog::EntityNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    LogNode::read(aReader, aLength);
    e32 = readI32(aReader);
    e64 = readI64(aReader);
}

void TraceLog::EntityNode::write(CAppsFileWriter& aWriter) const
{
    LogNode::write(aWriter);
    check(aWriter.writeInt32(e32));
    check(aWriter.writeInt64(e64));
}

void TraceLog::BinaryNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    EntityNode::read(aReader, aLength);
    readNode(aReader, name);
    readNode(aReader, data);
    value1 = readI32(aReader);
    value2 = readI32(aReader);
}

void TraceLog::BinaryNode::write(CAppsFileWriter& aWriter) const
{
    EntityNode::write(aWriter);
    writeNode(aWriter, name);
    writeNode(aWriter, data);
    check(aWriter.writeInt32(value1));
    check(aWriter.writeInt32(value2));
}

void TraceLog::MethodCallNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    LogNode::read(aReader, aLength);
    value = readI32(aReader);
}

void TraceLog::MethodCallNode::write(CAppsFileWriter& aWriter) const
{
    LogNode::write(aWriter);
    check(aWriter.writeInt32(value));
}

void TraceLog::StartTraceNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    LogNode::read(aReader, aLength);
    value = readI32(aReader);
}

void TraceLog::StartTraceNode::write(CAppsFileWriter& aWriter) const
{
    LogNode::write(aWriter);
    check(aWriter.writeInt32(value));
}

void TraceLog::MessageNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    LogNode::read(aReader, aLength);
    readNode(aReader, text);
}

void TraceLog::MessageNode::write(CAppsFileWriter& aWriter) const
{
    LogNode::write(aWriter);
    writeNode(aWriter, text);
}

void TraceLog::ExceptionThrownNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    LogNode::read(aReader, aLength);
    value1 = readI32(aReader);
    value2 = readI32(aReader);
}

void TraceLog::ExceptionThrownNode::write(CAppsFileWriter& aWriter) const
{
    LogNode::write(aWriter);
    check(aWriter.writeInt32(value1));
    check(aWriter.writeInt32(value2));
}

void TraceLog::ExceptionCaughtNode::read(CAppsFileReader& aReader, TInt32 aLength)
{
    LogNode::read(aReader, aLength);
    value = readI32(aReader);
}

void TraceLog::ExceptionCaughtNode::write(CAppsFileWriter& aWriter) const
{
    LogNode::write(aWriter);
    check(aWriter.writeInt32(value));
}

// ---------------------------------------------------------------------------
// Documents

TraceLog::HeaderNode TraceLog::writerHeader()
{
    HeaderNode h;
    h.versionMajor = 1;
    h.versionMinor = 0;
    h.producer.text = CAppsString("Tavix Studio Emulator");
    h.reserved = 0;
    const QDate today = QDate::currentDate();
    h.created.year = int16_t(today.year());
    h.created.month = TUint8(today.month());
    h.created.day = TUint8(today.day());
    h.ticksPerSecond = 1000000;
    return h;
}

std::unique_ptr<TraceLog::NodeBase> TraceLog::createLogNode(int aTypeCode)
{
    switch (aTypeCode) {
    case EBinary:
        return std::make_unique<BinaryNode>();
    case EMethodCall:
        return std::make_unique<MethodCallNode>();
    case EMethodReturn:
        return std::make_unique<MethodReturnNode>();
    case EGarbageCollection:
        return std::make_unique<GarbageCollectionNode>();
    case EStopTrace:
        return std::make_unique<StopTraceNode>();
    case EStartTrace:
        return std::make_unique<StartTraceNode>();
    case EMessage:
        return std::make_unique<MessageNode>();
    case EExceptionThrown:
        return std::make_unique<ExceptionThrownNode>();
    case EExceptionCaught:
        return std::make_unique<ExceptionCaughtNode>();
    default:
        return nullptr;
    }
}

void readAndCheckType(CAppsFileReader& aReader, int aExpectedType)
{
    KELVAR_ASSERT(aExpectedType < 255);
    TUint8 found = readU8(aReader);
    if (found != aExpectedType)
        throw TraceLog::ReadError("invalid type (expecting type: " + std::to_string(aExpectedType) + ") " +
                                  std::to_string(found));
}

void readNode(CAppsFileReader& aReader, TraceLog::NodeBase& aNode)
{
    readAndCheckType(aReader, aNode.typeCode());
    const TInt32 length = readLength(aReader);
    const TInt64 end = TInt64(aReader.position()) + length;
    aNode.read(aReader, length);
    skipTo(aReader, end);
}

void writeNode(CAppsFileWriter& aWriter, const TraceLog::NodeBase& aNode)
{
    const TInt64 length = aNode.payloadLength();
    if (length > INT_MAX)
        throw TraceLog::WriteError("node too long");
    check(aWriter.writeByte(aNode.typeCode()));
    check(aWriter.writeInt32(TInt32(length)));
    aNode.write(aWriter);
}

bool writeTraceFile(const TraceLog& aDocument, const CAppsString& aPath)
{
    CAppsFileWriter writer(aPath);
    if (!writer.isOpen())
        return false;
    try {
        writeNode(writer, TraceLog::writerHeader());
        for (const auto& node : aDocument.nodes) {
            const int type = node->typeCode();
            if (type < TraceLog::EBinary || type > TraceLog::EExceptionCaught)
                return false;
            writeNode(writer, *node);
        }
    } catch (const TraceLog::WriteError&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Bytes still buffered must reach the file for the trace to be complete.
    return writer.close();
}

bool readTraceFile(TraceLog& aDocument, CAppsFileReader& aReader, CAppsString* aErrorText, bool aReadRecords)
{
    std::string failure;
    try {
        if (!aReader.isOpen())
            throw TraceLog::ReadError("File is not open");
        readNode(aReader, aDocument.header);
        while (aReadRecords && !aReader.isEof()) {
            const TUint8 type = readU8(aReader);
            std::unique_ptr<TraceLog::NodeBase> node = TraceLog::createLogNode(type);
            if (!node)
                throw TraceLog::ReadError("Invalid type: " + std::to_string(type));
            const TInt32 length = readLength(aReader);
            const TInt64 end = TInt64(aReader.position()) + length;
            node->read(aReader, length);
            aDocument.nodes.push_back(std::move(node));
            skipTo(aReader, end);
        }
        return true;
    } catch (const TraceLog::ReadError& e) {
        failure = e.what();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    if (aErrorText)
        *aErrorText = CAppsString(
            std::string_view("Error while reading location: " + std::to_string(aReader.position()) + failure));
    return false;
}

}  // namespace Trace
