// Audio mixer (extension 30): sound effects held in memory as raw 16-bit
// samples, mixed in software into one 16 kHz mono stream on a PulseAudio
// threaded main loop (a thread of its own).
//
// Operations (t = top on entry; "mixer" is the program's mixer object, a
// cell whose word is the AudioMixer block):
//   1 create (mixer)                   t - 1  new AudioMixer and its stream
//   2 load (mixer, file name)          t - 1  channel number or -1 replaces mixer
//   3 (mixer, int)                     t - 2  null check only
//   4 play (mixer, channel)            t - 2  restart from the first sample
//   5 stop (mixer, channel)            t - 2  the next sample goes to the fade tail
//   6 set volume (mixer, channel, v)   t - 3  256 = unchanged, no range test
//   7 get volume (mixer, channel)      t - 1  volume replaces mixer
//   8 (three slots)                    t - 3  nothing
//   9 (two slots)                      t - 1  0 replaces the first
// Channel numbers outside the channel list are ignored by ops 4 to 6; op 7
// answers 0 for them.
//
// Threads and locks: the write callback runs on the loop thread with the
// loop lock held and takes the mixer's mutex; the GUI thread takes the mutex
// in ops 2 and 4 to 7 and the loop lock only to create or tear down a stream,
// never while it holds a mutex. So the order is always loop lock, then mutex.
//
// Without a sound server (or when a stream cannot be made) one message goes
// to standard error and every operation still works on the channels, which
// simply never advance: loads return channel numbers, volumes read back.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "VirtualMachineExtensions/AudioMixer/MixerArithmetic.h"
#include "VirtualMachineExtensions/Extension.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace ext {

// A threaded main loop and its context "tavix-vm", shared by the extension
// and its mixers: the last owner stops the loop.
class MixerConnection {
public:
    MixerConnection();
    ~MixerConnection();
    MixerConnection(const MixerConnection&) = delete;
    MixerConnection& operator=(const MixerConnection&) = delete;

    bool ready() const { return iReady; }
    pa_threaded_mainloop* loop() const { return iLoop; }
    pa_context* context() const { return iContext; }

private:
    void release();

    pa_threaded_mainloop* iLoop = nullptr;
    pa_context* iContext = nullptr;
    bool iReady = false;
};

class AudioMixer : public vm::GCObject {
public:
    static constexpr int kBlockSize = 48;
    static constexpr int kRate = 16000;
    static constexpr int kTargetLength = 3200;  // bytes: 100 ms

    explicit AudioMixer(std::shared_ptr<MixerConnection> aConnection);
    // Disconnects the stream under the loop lock before anything goes.
    ~AudioMixer() override;

    // Connects the playback stream and waits until it runs or fails.
    void startStream();
    bool hasStream() const { return iStream != nullptr; }

    int addChannel(std::vector<int16_t>&& aSamples);
    void play(int aChannel);
    void stop(int aChannel);
    void setVolume(int aChannel, int aVolume);
    int volume(int aChannel);
    int channelCount();

    // Mixes aCount samples under the mutex (the write callback's work).
    void mix(int16_t* aOut, size_t aCount);

private:
    static void write(pa_stream* aStream, size_t aBytes, void* aMixer);
    static void underflow(pa_stream* aStream, void* aMixer);
    MixerChannel* channel(int aChannel);

    std::shared_ptr<MixerConnection> iConnection;
    pa_stream* iStream = nullptr;
    std::mutex iLock;  // guards iChannels and iTail
    std::vector<MixerChannel> iChannels;
    FadeTail iTail;
    std::vector<int16_t> iBuffer;  // loop thread only
};

class AudioMixerExtension : public MVMExtension {
public:
    AudioMixerExtension(vm::MVMCallbackInterface& aVm, vm::FrameworkServices& aHost);
    int callDllNative(int aOperation, int aTop, Addr aStackBase) override;

    const std::shared_ptr<MixerConnection>& connection() const { return iConnection; }

private:
    int load(AudioMixer& aMixer, const OString& aName);

    vm::MVMCallbackInterface& iVm;
    vm::FrameworkServices& iHost;
    std::shared_ptr<MixerConnection> iConnection;
};

}  // namespace ext
