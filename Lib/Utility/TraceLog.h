// Trace files: a header node followed by log records (method calls and
// returns, collections, trace start and stop, messages, exceptions thrown
// and caught, binary payloads).
//
// Every node is framed as a tag: the type code (one unsigned byte), the
// payload length (signed 32-bit, not counting the 5 tag bytes) and the
// payload. Integers are big-endian. A node's fields follow its base's fields;
// all are zero (strings and vectors empty) after construction. The format
// fixes only the widths and order of the log fields; what a producer puts in
// them is its own business (the VM's recorder: docs/trace.md).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "../Containers/CAppsString.h"
#include "../Containers/Vec.h"
#include "../VirtualMachine/Types.h"

class CAppsFileReader;
class CAppsFileWriter;

namespace Trace {

class TraceLog {
public:
    // A read that failed; the message is one of the reader's error texts.
    struct ReadError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    // A write that the file writer refused.
    struct WriteError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    enum TypeCode {
        EString = 1,
        EDateTime = 3,
        EData = 4,
        EHeader = 5,
        EBinary = 101,
        EMethodCall = 102,
        EMethodReturn = 103,
        EGarbageCollection = 104,
        EStopTrace = 105,
        EStartTrace = 106,
        EMessage = 107,
        EExceptionThrown = 108,
        EExceptionCaught = 109,
    };

    class NodeBase {
    public:
        virtual ~NodeBase() = default;
        // Fills the node from its payload (aLength bytes at the reader's
        // position); throws ReadError when the reader runs out. Reading may
        // stop short of aLength (the caller skips the rest) or run past it
        // (the caller reports it).
        virtual void read(CAppsFileReader& aReader, TInt32 aLength);
        virtual int typeCode() const = 0;
        // The payload as written; write throws WriteError.
        virtual TInt64 payloadLength() const = 0;
        virtual void write(CAppsFileWriter& aWriter) const = 0;
    };

    class StringNode : public NodeBase {
    public:
        StringNode() = default;
        explicit StringNode(const CAppsString& aText) : text(aText) {}
        // Code units from consecutive byte pairs, high byte first; an odd
        // last byte is dropped.
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EString; }
        TInt64 payloadLength() const override { return 2 * TInt64(text.count()); }
        void write(CAppsFileWriter& aWriter) const override;
        CAppsString text;
    };

    class DateTimeNode : public NodeBase {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EDateTime; }
        TInt64 payloadLength() const override { return 7; }
        void write(CAppsFileWriter& aWriter) const override;
        int16_t year = 0;
        TUint8 month = 0, day = 0, hour = 0, minute = 0, second = 0;
    };

    class DataNode : public NodeBase {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EData; }
        TInt64 payloadLength() const override { return bytes.count(); }
        void write(CAppsFileWriter& aWriter) const override;
        Vec<unsigned char> bytes;
    };

    class HeaderNode : public NodeBase {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EHeader; }
        TInt64 payloadLength() const override { return 2 + (5 + producer.payloadLength()) + 4 + 12 + 8; }
        void write(CAppsFileWriter& aWriter) const override;
        TUint8 versionMajor = 0, versionMinor = 0;
        StringNode producer;
        TInt32 reserved = 0;
        DateTimeNode created;
        TInt64 ticksPerSecond = 0;
    };

    // L64 and L32 of every log record.
    class LogNode : public NodeBase {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        TInt64 payloadLength() const override { return 12; }
        void write(CAppsFileWriter& aWriter) const override;
        TInt64 l64 = 0;
        TInt32 l32 = 0;
    };

    // E32 and E64, after the log fields.
    class EntityNode : public LogNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        TInt64 payloadLength() const override { return 24; }
        void write(CAppsFileWriter& aWriter) const override;
        TInt32 e32 = 0;
        TInt64 e64 = 0;
    };

    class BinaryNode : public EntityNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EBinary; }
        TInt64 payloadLength() const override
        {
            return 32 + (5 + name.payloadLength()) + (5 + data.payloadLength());
        }
        void write(CAppsFileWriter& aWriter) const override;
        StringNode name;
        DataNode data;
        TInt32 value1 = 0, value2 = 0;
    };

    class MethodCallNode : public LogNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EMethodCall; }
        TInt64 payloadLength() const override { return 16; }
        void write(CAppsFileWriter& aWriter) const override;
        TInt32 value = 0;
    };

    class MethodReturnNode : public LogNode {
    public:
        int typeCode() const override { return EMethodReturn; }
    };

    class GarbageCollectionNode : public EntityNode {
    public:
        int typeCode() const override { return EGarbageCollection; }
    };

    class StopTraceNode : public LogNode {
    public:
        int typeCode() const override { return EStopTrace; }
    };

    class StartTraceNode : public LogNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EStartTrace; }
        TInt64 payloadLength() const override { return 16; }
        void write(CAppsFileWriter& aWriter) const override;
        TInt32 value = 0;
    };

    class MessageNode : public LogNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EMessage; }
        TInt64 payloadLength() const override { return 12 + (5 + text.payloadLength()); }
        void write(CAppsFileWriter& aWriter) const override;
        StringNode text;
    };

    class ExceptionThrownNode : public LogNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EExceptionThrown; }
        TInt64 payloadLength() const override { return 20; }
        void write(CAppsFileWriter& aWriter) const override;
        TInt32 value1 = 0, value2 = 0;
    };

    class ExceptionCaughtNode : public LogNode {
    public:
        void read(CAppsFileReader& aReader, TInt32 aLength) override;
        int typeCode() const override { return EExceptionCaught; }
        TInt64 payloadLength() const override { return 16; }
        void write(CAppsFileWriter& aWriter) const override;
        TInt32 value = 0;
    };

    // The header every writer puts first: version 1.0, producer "Tavix
    // Studio Emulator", reserved 0, today's local date at 00:00:00 and
    // 1000000 ticks per second.
    static HeaderNode writerHeader();
    // A new log node of a type code 101..109, null for any other.
    static std::unique_ptr<NodeBase> createLogNode(int aTypeCode);

    HeaderNode header;
    std::vector<std::unique_ptr<NodeBase> > nodes;  // in file order
};

// Reads the type byte and compares it with aExpectedType (below 255);
// throws ReadError "unexpected end of file" or "invalid type (expecting
// type: <expected>) <found>".
void readAndCheckType(CAppsFileReader& aReader, int aExpectedType);

// Reads a complete node of aNode's type: tag, length check, payload; the
// rest of a longer payload is skipped, a payload read past its length
// throws ReadError "read: length exceeded".
void readNode(CAppsFileReader& aReader, TraceLog::NodeBase& aNode);

// Writes aNode's tag and payload; throws TraceLog::WriteError.
void writeNode(CAppsFileWriter& aWriter, const TraceLog::NodeBase& aNode);

// Writes the writer's header and then every node of aDocument in order
// (aDocument's own header is not written). Creates or empties the file.
// False when the file cannot be opened, a node's type is outside 101..109,
// or a write fails; the file is then left partly written.
bool writeTraceFile(const TraceLog& aDocument, const CAppsString& aPath);

// Reads the header into aDocument and, with aReadRecords, appends the log
// records up to the end of the data. On failure returns false, keeps the
// nodes read so far and, when aErrorText is given, sets it to "Error while
// reading location: " + the reader position + the failure message.
bool readTraceFile(TraceLog& aDocument, CAppsFileReader& aReader, CAppsString* aErrorText, bool aReadRecords);

}  // namespace Trace
