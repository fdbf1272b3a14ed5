#include "AudioPlayer.h"

#include <pulse/glib-mainloop.h>
#include <pulse/pulseaudio.h>

#include <cstdio>
#include <string>

#include "Containers/OVector.h"
#include "StringObjects.h"
#include "VirtualMachineExtensions/Sound.h"

namespace ext {

// ---------------------------------------------------------------------------
// Deferred operations

DeferredOperation::DeferredOperation(vm::VMHeap& aHeap, Addr aPlayer, Operation aOperation)
    : iHeap(aHeap), iPlayer(aPlayer), iOperation(aOperation)
{
    iHeap.addRoot(iPlayer);
}

DeferredOperation::~DeferredOperation()
{
    iHeap.removeRoot(iPlayer);
}

void DeferredOperation::run() const
{
    if (AudioPlayer* player = iHeap.objectAs<AudioPlayer>(iPlayer))
        (player->*iOperation)();
}

// ---------------------------------------------------------------------------
// The connection

PlayerConnection::PlayerConnection()
{
    iLoop = pa_glib_mainloop_new(nullptr);
    if (iLoop)
        iContext = pa_context_new(pa_glib_mainloop_get_api(iLoop), "tavix-vm");
    if (iContext) {
        pa_context_set_state_callback(iContext, stateChanged, this);
        if (pa_context_connect(iContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
            return;
    }
    iState = EFailed;
    reportSoundUnavailable(std::string("no sound server (") +
                           pa_strerror(iContext ? pa_context_errno(iContext) : PA_ERR_UNKNOWN) + ")");
}

PlayerConnection::~PlayerConnection()
{
    iPending.clear();
    if (iContext) {
        pa_context_set_state_callback(iContext, nullptr, nullptr);
        pa_context_disconnect(iContext);
        pa_context_unref(iContext);
    }
    if (iLoop)
        pa_glib_mainloop_free(iLoop);
}

void PlayerConnection::stateChanged(pa_context* aContext, void* aConnection)
{
    auto* self = static_cast<PlayerConnection*>(aConnection);
    pa_context_state_t state = pa_context_get_state(aContext);
    if (state == PA_CONTEXT_READY) {
        self->iState = EReady;
        self->runPending();
    } else if (!PA_CONTEXT_IS_GOOD(state) && self->iState != EFailed) {
        reportSoundUnavailable(std::string(self->iState == EReady ? "the connection to the sound server ended ("
                                                                  : "no sound server (") +
                               pa_strerror(pa_context_errno(aContext)) + ")");
        self->iState = EFailed;
        self->iPending.clear();
    }
}

void PlayerConnection::defer(vm::VMHeap& aHeap, Addr aPlayer, DeferredOperation::Operation aOperation)
{
    if (iState == EFailed)
        return;
    iPending.push_back(std::make_unique<DeferredOperation>(aHeap, aPlayer, aOperation));
    if (iState == EReady)
        runPending();
}

void PlayerConnection::runPending()
{
    // An operation may end in a callback that defers nothing, but take the
    // list first all the same: each entry is run once and then destroyed.
    std::vector<std::unique_ptr<DeferredOperation> > list;
    list.swap(iPending);
    for (std::unique_ptr<DeferredOperation>& operation : list) {
        operation->run();
        operation.reset();
    }
}

// ---------------------------------------------------------------------------
// The player

AudioPlayer::AudioPlayer(std::shared_ptr<PlayerConnection> aConnection, std::vector<uint8_t>&& aData)
    : iConnection(std::move(aConnection)), iData(std::move(aData))
{
}

AudioPlayer::~AudioPlayer()
{
    stop();
}

void AudioPlayer::start()
{
    // An empty clip (from an empty byte array) has nothing to play.
    if (iStream || iData.empty() || iConnection->state() != PlayerConnection::EReady)
        return;
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    iStream = pa_stream_new(iConnection->context(), "tavix-audio-player", &spec, nullptr);
    if (!iStream) {
        reportSoundUnavailable(std::string("the player's stream cannot be made (") +
                               pa_strerror(pa_context_errno(iConnection->context())) + ")");
        return;
    }
    pa_stream_set_state_callback(iStream, stateChanged, this);
    pa_stream_set_started_callback(iStream, playbackStarted, this);
    pa_stream_set_underflow_callback(iStream, underflow, this);
    if (pa_stream_connect_playback(iStream, nullptr, nullptr, pa_stream_flags_t(0), nullptr, nullptr) < 0)
        stop();
}

void AudioPlayer::stop()
{
    if (!iStream)
        return;
    pa_stream_set_state_callback(iStream, nullptr, nullptr);
    pa_stream_set_write_callback(iStream, nullptr, nullptr);
    pa_stream_set_started_callback(iStream, nullptr, nullptr);
    pa_stream_set_underflow_callback(iStream, nullptr, nullptr);
    pa_stream_disconnect(iStream);
    pa_stream_unref(iStream);
    iStream = nullptr;
}

void AudioPlayer::stateChanged(pa_stream* aStream, void* aPlayer)
{
    auto* self = static_cast<AudioPlayer*>(aPlayer);
    pa_stream_state_t state = pa_stream_get_state(aStream);
    if (state == PA_STREAM_READY) {
        self->ready();
    } else if (!PA_STREAM_IS_GOOD(state)) {
        reportSoundUnavailable(std::string("the player's playback stream failed (") +
                               pa_strerror(pa_context_errno(pa_stream_get_context(aStream))) + ")");
        self->stop();
    }
}

void AudioPlayer::ready()
{
    pa_operation* operation = pa_stream_prebuf(iStream, nullptr, nullptr);
    if (!operation) {
        std::fputs("BUG: pa_stream_prebuf() returned NULL\n", stderr);
        stop();
        return;
    }
    pa_operation_unref(operation);
    iWritten = 0;
    iStarted = 0;
    pa_stream_set_write_callback(iStream, writeRequested, this);
    size_t writable = pa_stream_writable_size(iStream);
    if (writable > 0 && writable != size_t(-1))
        write(writable);
}

void AudioPlayer::writeRequested(pa_stream*, size_t aBytes, void* aPlayer)
{
    static_cast<AudioPlayer*>(aPlayer)->write(aBytes);
}

void AudioPlayer::write(size_t aBytes)
{
    size_t count = std::min(aBytes, iData.size() - iWritten);
    if (count == 0)
        return;
    pa_stream_write(iStream, iData.data() + iWritten, count, nullptr, 0, PA_SEEK_RELATIVE);
    iWritten += count;
    if (iWritten == iData.size() && iStarted != 1) {
        // A clip shorter than the prebuffer would never start on its own.
        pa_operation* operation = pa_stream_trigger(iStream, nullptr, nullptr);
        if (!operation) {
            std::fputs("BUG: pa_stream_trigger() returned NULL\n", stderr);
            stop();
            return;
        }
        pa_operation_unref(operation);
    }
}

void AudioPlayer::playbackStarted(pa_stream*, void* aPlayer)
{
    static_cast<AudioPlayer*>(aPlayer)->iStarted = 1;
}

void AudioPlayer::underflow(pa_stream*, void* aPlayer)
{
    auto* self = static_cast<AudioPlayer*>(aPlayer);
    if (self->iWritten == self->iData.size())
        self->stop();
}

// ---------------------------------------------------------------------------
// The extension

AudioPlayerExtension::AudioPlayerExtension(vm::MVMCallbackInterface& aVm, vm::FrameworkServices& aHost)
    : iVm(aVm), iHost(aHost), iConnection(std::make_shared<PlayerConnection>())
{
}

AudioPlayerExtension::~AudioPlayerExtension()
{
    iConnection->discardPending();
}

void AudioPlayerExtension::create(ExtensionStack& aStack, std::vector<uint8_t>&& aData)
{
    vm::VMHeap& heap = iVm.getHeap();
    Word object = aStack.word(aStack.top - 2);
    Addr block = heap.construct<AudioPlayer>(AudioPlayer::kBlockSize, vm::GC_CODE_NATIVE, iConnection,
                                             std::move(aData));
    storeInto(heap, object, block);
}

int AudioPlayerExtension::callDllNative(int aOperation, int aTop, Addr aStackBase)
{
    ExtensionStack stack(iVm, aTop, aStackBase);
    vm::VMHeap& heap = iVm.getHeap();
    switch (aOperation) {
    case 1: {
        heap.space().check(vm::nullCheck(Addr(stack.word(aTop - 2))), 4);
        OString name = vm::stringOf(heap, Addr(stack.word(aTop - 1)));
        std::vector<uint8_t> bytes;
        switch (readWholeFile(iHost, name, bytes)) {
        case FileRead::ENoStream:
            vm::raiseVmError(vm::KErrIO, u"Could not open file: " + name.toU16());
        case FileRead::EEmpty:
            vm::raiseVmError(vm::KErrInvalidArgument, "File is empty");
        case FileRead::EReadFailed:
            vm::raiseVmError(vm::KErrIO);
        case FileRead::EOk:
            break;
        }
        create(stack, std::move(bytes));
        return aTop - 3;
    }
    case 2: {
        heap.space().check(vm::nullCheck(Addr(stack.word(aTop - 2))), 4);
        create(stack, vm::byteVectorBytes(heap, Addr(stack.word(aTop - 1))));
        return aTop - 3;
    }
    case 3:
    case 4: {
        Word object = stack.word(aTop);
        Addr block = Addr(heap.space().loadWord(vm::nullCheck(Addr(object))));
        vm::objectOf<AudioPlayer>(heap, block);
        iConnection->defer(heap, block, aOperation == 3 ? &AudioPlayer::start : &AudioPlayer::stop);
        return aTop - 1;
    }
    case 6:
        return aTop - 1;
    case 7:
    case 8:
    case 10:
    case 12:
    case 13:
        stack.setWord(aTop, 0);
        return aTop;
    case 9:
    case 11:
        return aTop - 2;
    case 14:
        return aTop - 3;
    default:
        unknownOperation(iVm, "AudioPlayer: Unknown opcode!");
    }
}

}  // namespace ext
