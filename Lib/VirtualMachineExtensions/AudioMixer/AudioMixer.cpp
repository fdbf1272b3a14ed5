#include "AudioMixer.h"

#include <pulse/pulseaudio.h>

#include <cstdio>
#include <string>

#include "StringObjects.h"
#include "VirtualMachineExtensions/Sound.h"

namespace ext {

namespace {

std::string serverError(const char* aWhat, pa_context* aContext)
{
    return std::string(aWhat) + " (" + pa_strerror(aContext ? pa_context_errno(aContext) : PA_ERR_UNKNOWN) + ")";
}

void signalLoop(pa_stream*, void* aLoop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(aLoop), 0);
}

// Removes the callbacks, then disconnects and releases the stream (loop lock held).
void releaseStream(pa_stream* aStream)
{
    pa_stream_set_write_callback(aStream, nullptr, nullptr);
    pa_stream_set_state_callback(aStream, nullptr, nullptr);
    pa_stream_set_underflow_callback(aStream, nullptr, nullptr);
    pa_stream_disconnect(aStream);
    pa_stream_unref(aStream);
}

}  // namespace

// ---------------------------------------------------------------------------
// The connection

MixerConnection::MixerConnection()
{
    iLoop = pa_threaded_mainloop_new();
    if (!iLoop) {
        reportSoundUnavailable("no PulseAudio main loop");
        return;
    }
    if (pa_threaded_mainloop_start(iLoop) < 0) {
        pa_threaded_mainloop_free(iLoop);
        iLoop = nullptr;
        reportSoundUnavailable("the PulseAudio main loop does not start");
        return;
    }
    pa_threaded_mainloop_lock(iLoop);
    iContext = pa_context_new(pa_threaded_mainloop_get_api(iLoop), "tavix-vm");
    if (iContext) {
        pa_context_set_state_callback(
            iContext,
            [](pa_context* aContext, void* aConnection) {
                auto* self = static_cast<MixerConnection*>(aConnection);
                if (self->iReady && !PA_CONTEXT_IS_GOOD(pa_context_get_state(aContext)))
                    reportSoundUnavailable(serverError("the connection to the sound server ended", aContext));
                pa_threaded_mainloop_signal(self->iLoop, 0);
            },
            this);
        // The runtime never starts a sound server of its own.
        if (pa_context_connect(iContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            pa_context_state_t state;
            while ((state = pa_context_get_state(iContext)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state))
                pa_threaded_mainloop_wait(iLoop);
            iReady = state == PA_CONTEXT_READY;
        }
    }
    pa_threaded_mainloop_unlock(iLoop);
    if (!iReady) {
        reportSoundUnavailable(serverError("no sound server", iContext));
        release();  // no thread is left idling
    }
}

MixerConnection::~MixerConnection()
{
    release();
}

void MixerConnection::release()
{
    if (!iLoop)
        return;
    pa_threaded_mainloop_lock(iLoop);
    if (iContext) {
        pa_context_set_state_callback(iContext, nullptr, nullptr);
        pa_context_disconnect(iContext);
        pa_context_unref(iContext);
        iContext = nullptr;
    }
    pa_threaded_mainloop_unlock(iLoop);
    pa_threaded_mainloop_stop(iLoop);
    pa_threaded_mainloop_free(iLoop);
    iLoop = nullptr;
}

// ---------------------------------------------------------------------------
// The mixer

AudioMixer::AudioMixer(std::shared_ptr<MixerConnection> aConnection) : iConnection(std::move(aConnection)) {}

AudioMixer::~AudioMixer()
{
    if (!iStream)
        return;
    // After this no callback can reach the mixer: the loop thread runs them
    // only with the lock held, and they are gone before it is released.
    pa_threaded_mainloop* loop = iConnection->loop();
    pa_threaded_mainloop_lock(loop);
    releaseStream(iStream);
    pa_threaded_mainloop_unlock(loop);
}

void AudioMixer::startStream()
{
    if (!iConnection || !iConnection->ready())
        return;
    pa_threaded_mainloop* loop = iConnection->loop();
    pa_context* context = iConnection->context();
    pa_threaded_mainloop_lock(loop);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    pa_stream* stream = pa_stream_new(context, "tavix-audio-player", &spec, nullptr);
    bool running = false;
    if (stream) {
        pa_stream_set_write_callback(stream, write, this);
        pa_stream_set_state_callback(stream, signalLoop, loop);
        pa_stream_set_underflow_callback(stream, underflow, this);
        pa_buffer_attr attributes;
        attributes.maxlength = uint32_t(-1);
        attributes.tlength = kTargetLength;
        attributes.prebuf = 0;
        attributes.minreq = uint32_t(-1);
        attributes.fragsize = uint32_t(-1);
        if (pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) >=
            0) {
            pa_stream_state_t state;
            while ((state = pa_stream_get_state(stream)) != PA_STREAM_READY && PA_STREAM_IS_GOOD(state))
                pa_threaded_mainloop_wait(loop);
            running = state == PA_STREAM_READY;
        }
    }
    if (running) {
        iStream = stream;
    } else {
        reportSoundUnavailable(serverError("the mixer's playback stream failed", context));
        if (stream)
            releaseStream(stream);
    }
    pa_threaded_mainloop_unlock(loop);
}

MixerChannel* AudioMixer::channel(int aChannel)
{
    return aChannel >= 0 && size_t(aChannel) < iChannels.size() ? &iChannels[size_t(aChannel)] : nullptr;
}

int AudioMixer::addChannel(std::vector<int16_t>&& aSamples)
{
    std::lock_guard<std::mutex> lock(iLock);
    iChannels.emplace_back();
    iChannels.back().samples = std::move(aSamples);
    return int(iChannels.size()) - 1;
}

void AudioMixer::play(int aChannel)
{
    std::lock_guard<std::mutex> lock(iLock);
    if (MixerChannel* c = channel(aChannel))
        playChannel(*c);
}

void AudioMixer::stop(int aChannel)
{
    std::lock_guard<std::mutex> lock(iLock);
    if (MixerChannel* c = channel(aChannel))
        stopChannel(*c, iTail);
}

void AudioMixer::setVolume(int aChannel, int aVolume)
{
    std::lock_guard<std::mutex> lock(iLock);
    if (MixerChannel* c = channel(aChannel))
        c->volume = aVolume;
}

int AudioMixer::volume(int aChannel)
{
    std::lock_guard<std::mutex> lock(iLock);
    MixerChannel* c = channel(aChannel);
    return c ? c->volume : 0;
}

int AudioMixer::channelCount()
{
    std::lock_guard<std::mutex> lock(iLock);
    return int(iChannels.size());
}

void AudioMixer::mix(int16_t* aOut, size_t aCount)
{
    std::lock_guard<std::mutex> lock(iLock);
    mixInto(iChannels, iTail, aOut, aCount);
}

void AudioMixer::write(pa_stream* aStream, size_t aBytes, void* aMixer)
{
    auto* self = static_cast<AudioMixer*>(aMixer);
    size_t count = aBytes / 2;
    if (self->iBuffer.size() < count)
        self->iBuffer.resize(count);
    self->mix(self->iBuffer.data(), count);
    pa_stream_write(aStream, self->iBuffer.data(), count * 2, nullptr, 0, PA_SEEK_RELATIVE);
}

void AudioMixer::underflow(pa_stream*, void*)
{
    std::fputs("AudioMixer: underflow\n", stderr);
}

// ---------------------------------------------------------------------------
// The extension

AudioMixerExtension::AudioMixerExtension(vm::MVMCallbackInterface& aVm, vm::FrameworkServices& aHost)
    : iVm(aVm), iHost(aHost), iConnection(std::make_shared<MixerConnection>())
{
}

int AudioMixerExtension::load(AudioMixer& aMixer, const OString& aName)
{
    std::vector<uint8_t> bytes;
    FileRead result = readWholeFile(iHost, aName, bytes);
    if (result != FileRead::EOk && result != FileRead::EEmpty)
        return -1;
    return aMixer.addChannel(samplesOf(bytes.data(), bytes.size()));
}

int AudioMixerExtension::callDllNative(int aOperation, int aTop, Addr aStackBase)
{
    ExtensionStack stack(iVm, aTop, aStackBase);
    vm::VMHeap& heap = iVm.getHeap();
    auto mixerAt = [&](int aSlot) -> AudioMixer& { return nativeObjectIn<AudioMixer>(heap, stack.word(aSlot)); };
    switch (aOperation) {
    case 1: {
        Word object = stack.word(aTop);
        heap.space().check(vm::nullCheck(Addr(object)), 4);
        Addr block = heap.construct<AudioMixer>(AudioMixer::kBlockSize, vm::GC_CODE_NATIVE, iConnection);
        storeInto(heap, object, block);
        heap.objectAs<AudioMixer>(block)->startStream();
        return aTop - 1;
    }
    case 2: {
        AudioMixer& mixer = mixerAt(aTop - 1);
        OString name = vm::stringOf(heap, Addr(stack.word(aTop)));
        stack.setWord(aTop - 1, load(mixer, name));
        return aTop - 1;
    }
    case 3:
        vm::nullCheck(Addr(stack.word(aTop - 1)));
        return aTop - 2;
    case 4:
        mixerAt(aTop - 1).play(stack.word(aTop));
        return aTop - 2;
    case 5:
        mixerAt(aTop - 1).stop(stack.word(aTop));
        return aTop - 2;
    case 6:
        mixerAt(aTop - 2).setVolume(stack.word(aTop - 1), stack.word(aTop));
        return aTop - 3;
    case 7:
        stack.setWord(aTop - 1, mixerAt(aTop - 1).volume(stack.word(aTop)));
        return aTop - 1;
    case 8:
        return aTop - 3;
    case 9:
        stack.setWord(aTop - 1, 0);
        return aTop - 1;
    default:
        unknownOperation(iVm, "AudioMixer: Unknown opcode!");
    }
}

}  // namespace ext
