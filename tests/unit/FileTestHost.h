// A test host whose file services work on a real application directory (a
// temporary directory) through the path rule, as the window's do.
#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>

#include "IO/ApplicationFiles.h"
#include "TestHost.h"

class FileTestHost : public TestHost {
public:
    FileTestHost() : files(CAppsString(std::string_view(dir.path().toStdString()))) {}

    QTemporaryDir dir;
    ApplicationFiles files;

    std::string path(const std::string& aRelative) const { return dir.path().toStdString() + "/" + aRelative; }

    KELVAR::OutputStream* openOutputStream(const OString& p, int truncate) override
    {
        return files.openOutputStream(p, truncate);
    }
    KELVAR::InputStream* openInputStream(const OString& p, int) override { return files.openInputStream(p); }
    int deleteFile(const OString& p) override { return files.deleteFile(p); }
    int fileExists(const OString& p) override { return files.fileExists(p); }
    int moveFile(const OString& a, const OString& b) override { return files.moveFile(a, b); }
    int listDirectory(const OString& p, Vec<OString>& f, Vec<OString>& d) override
    {
        return files.listDirectory(p, f, d);
    }
    int createDirectory(const OString& p) override { return files.createDirectory(p); }
    int deleteDirectory(const OString& p) override { return files.deleteDirectory(p); }
    int moveDirectory(const OString& a, const OString& b) override { return files.moveDirectory(a, b); }
    int directoryExists(const OString& p) override { return files.directoryExists(p); }
    OString getApplicationDirectory() override { return OString(files.directory()); }
};
