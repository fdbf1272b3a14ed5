#include "Sound.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "Containers/OString.h"
#include "FrameworkServices.h"
#include "IO/Stream.h"

namespace ext {

void reportSoundUnavailable(std::string_view aReason)
{
    static std::atomic<bool> reported{false};
    if (reported.exchange(true))
        return;
    std::fprintf(stderr, "Sound: %.*s; the application runs without sound\n", int(aReason.size()), aReason.data());
    std::fflush(stderr);
}

FileRead readWholeFile(vm::FrameworkServices& aHost, const OString& aName, std::vector<uint8_t>& aBytes)
{
    std::unique_ptr<KELVAR::InputStream> stream(aHost.openInputStream(aName, 0));
    if (!stream || !stream->isOpen())
        return FileRead::ENoStream;
    TInt32 size = stream->streamSize();
    if (size < 0)
        return FileRead::EReadFailed;
    if (size == 0)
        return FileRead::EEmpty;
    aBytes.resize(size_t(size));
    if (!stream->read(aBytes.data(), TUint32(size)))
        return FileRead::EReadFailed;
    return FileRead::EOk;
}

}  // namespace ext
