// What the two audio extensions share: the one notice that sound is off, and
// reading a whole sound file through the host.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class OString;
namespace vm {
class FrameworkServices;
}

namespace ext {

// Writes "Sound: <aReason>; the application runs without sound" to standard
// error, once per process (later calls write nothing). Any thread.
void reportSoundUnavailable(std::string_view aReason);

enum class FileRead { EOk, ENoStream, EEmpty, EReadFailed };

// Reads the whole file through the host's open-for-reading operation.
FileRead readWholeFile(vm::FrameworkServices& aHost, const OString& aName, std::vector<uint8_t>& aBytes);

}  // namespace ext
