// FileSystem group: existence tests, deleting, listing, creating and moving
// files and directories of the application, through the host's file
// services (and so its path rule). Booleans are -1 and 0; a failing
// operation raises an IOException without text; the existence tests never
// raise (but a null path is a null reference, code 1).
#include "../IO/Stream.h"
#include "../Containers/OVector.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

void checkNotEmpty(const OString& aPath, const char* aMessage)
{
    if (aPath.isEmpty())
        raiseVmError(KErrInvalidArgument, aMessage);
}

void succeed(int aResult)
{
    if (!aResult)
        raiseVmError(KErrIO);
}

}  // namespace

void VirtualMachine::fileSystemNative(int function)
{
    VMHeap& heap = *heap_;
    switch (function) {
    case 1:  // path: file exists
    case 2: {  // path: directory exists
        const OString& path = stringOf(heap, Addr(arg(0)));
        bool exists = !path.isEmpty() && host_ &&
                      (function == 1 ? host_->fileExists(path) : host_->directoryExists(path));
        arg(0) = exists ? -1 : 0;
        return;
    }
    case 3:  // path: delete file
    case 4:  // path: remove directory with its contents
    case 8: {  // path: create directory with its parents
        const OString& path = stringOf(heap, Addr(arg(0)));
        checkNotEmpty(path, "Path is empty");
        succeed(host_ && (function == 3   ? host_->deleteFile(path)
                          : function == 4 ? host_->deleteDirectory(path)
                                          : host_->createDirectory(path)));
        pop(1);
        return;
    }
    case 5:  // path: names of the subdirectories
    case 6: {  // path: names of the files
        const OString& path = stringOf(heap, Addr(arg(0)));
        Vec<OString> files, directories;
        succeed(host_ && host_->listDirectory(path, files, directories));
        arg(0) = Word(newStringVector(heap, function == 5 ? directories : files));
        return;
    }
    case 7: {  // path: create or empty a file
        const OString& path = stringOf(heap, Addr(arg(0)));
        checkNotEmpty(path, "Path is empty");
        KELVAR::OutputStream* stream = host_ ? host_->openOutputStream(path, 1) : nullptr;
        succeed(stream != nullptr);
        bool closed = stream->close();
        delete stream;
        succeed(closed);
        pop(1);
        return;
    }
    case 9:  // source, target: move a file
    case 10: {  // source, target: move a directory
        const OString& source = stringOf(heap, Addr(arg(1)));
        const OString& target = stringOf(heap, Addr(arg(0)));
        checkNotEmpty(source, function == 9 ? "Source filename is empty" : "Source path is empty");
        checkNotEmpty(target, function == 9 ? "Target filename is empty" : "Target path is empty");
        succeed(host_ && (function == 9 ? host_->moveFile(source, target) : host_->moveDirectory(source, target)));
        pop(2);
        return;
    }
    default:
        unknownNativeFunction("FileSystem:");
    }
}

}  // namespace vm
