// Audio player (extension 28): one whole clip of raw 16-bit mono samples per
// player object, played on its own 44.1 kHz stream with the server's default
// buffering. Everything runs on the GUI thread: the PulseAudio context lives
// on the GLib main loop that the GUI thread's event loop runs.
//
// Operations (t = top on entry; "player" is the program's player object, a
// cell whose word is the AudioPlayer block):
//   1 from file (player, file name, slot)   t - 3  errors: "IOException: Could
//        not open file: <name>", "InvalidArgumentException: File is empty",
//        "IOException" when the read fails
//   2 from bytes (player, byte[], slot)     t - 3  a copy of the array's bytes
//        (an empty array gives a player that plays nothing)
//   3 play (player)                         t - 1  deferred start
//   4 stop (player)                         t - 1  deferred stop
//   6 (slot) t - 1; 7, 8, 10, 12, 13 (slot) 0 replaces it; 9, 11 (two slots)
//   t - 2; 14 (three slots) t - 3: nothing else
// Starts and stops wait in a list, each rooting its player, until the context
// is ready; then the list runs in order. When the context fails (no server)
// the list is dropped, one message says that sound is off, and later plays
// and stops do nothing.
//
// Playing: the stream prebuffers, the clip is written as the server asks;
// once all of it is written a trigger starts playback if it has not started,
// and the underflow after the end stops the player (the stream goes). A
// player that is collected, or started again while it plays, is stopped or
// ignored in the same way.
#pragma once

#include <memory>
#include <vector>

#include "VirtualMachineExtensions/Extension.h"

struct pa_glib_mainloop;
struct pa_context;
struct pa_stream;

namespace ext {

class AudioPlayer;

// A start or stop waiting for the context. Holds its player as a GC root.
class DeferredOperation {
public:
    using Operation = void (AudioPlayer::*)();
    DeferredOperation(vm::VMHeap& aHeap, Addr aPlayer, Operation aOperation);
    ~DeferredOperation();
    DeferredOperation(const DeferredOperation&) = delete;
    DeferredOperation& operator=(const DeferredOperation&) = delete;
    // Runs the operation on the player, unless bytecode freed its block.
    void run() const;

private:
    vm::VMHeap& iHeap;
    Addr iPlayer;
    Operation iOperation;
};

// The GLib main loop adapter, the context "tavix-vm" and the pending list,
// shared by the extension and its players.
class PlayerConnection {
public:
    enum State { EConnecting, EReady, EFailed };

    PlayerConnection();
    ~PlayerConnection();
    PlayerConnection(const PlayerConnection&) = delete;
    PlayerConnection& operator=(const PlayerConnection&) = delete;

    State state() const { return iState; }
    pa_context* context() const { return iContext; }
    // Queues the operation; runs the whole list when the context is ready.
    // Does nothing once the context has failed.
    void defer(vm::VMHeap& aHeap, Addr aPlayer, DeferredOperation::Operation aOperation);
    size_t pending() const { return iPending.size(); }
    // Drops the list without running it.
    void discardPending() { iPending.clear(); }

private:
    static void stateChanged(pa_context* aContext, void* aConnection);
    void runPending();

    pa_glib_mainloop* iLoop = nullptr;
    pa_context* iContext = nullptr;
    State iState = EConnecting;
    std::vector<std::unique_ptr<DeferredOperation> > iPending;
};

class AudioPlayer : public vm::GCObject {
public:
    static constexpr int kBlockSize = 28;
    static constexpr int kRate = 44100;

    AudioPlayer(std::shared_ptr<PlayerConnection> aConnection, std::vector<uint8_t>&& aData);
    ~AudioPlayer() override;

    void start();
    void stop();
    bool playing() const { return iStream != nullptr; }
    const std::vector<uint8_t>& data() const { return iData; }

private:
    static void stateChanged(pa_stream* aStream, void* aPlayer);
    static void writeRequested(pa_stream* aStream, size_t aBytes, void* aPlayer);
    static void playbackStarted(pa_stream* aStream, void* aPlayer);
    static void underflow(pa_stream* aStream, void* aPlayer);
    void ready();
    void write(size_t aBytes);

    std::shared_ptr<PlayerConnection> iConnection;
    pa_stream* iStream = nullptr;
    std::vector<uint8_t> iData;
    size_t iWritten = 0;
    int iStarted = 2;  // 2 at creation, 0 at stream start, 1 once playing
};

class AudioPlayerExtension : public MVMExtension {
public:
    AudioPlayerExtension(vm::MVMCallbackInterface& aVm, vm::FrameworkServices& aHost);
    // Drops the pending operations without running them.
    ~AudioPlayerExtension() override;
    int callDllNative(int aOperation, int aTop, Addr aStackBase) override;

    const std::shared_ptr<PlayerConnection>& connection() const { return iConnection; }

private:
    void create(ExtensionStack& aStack, std::vector<uint8_t>&& aData);

    vm::MVMCallbackInterface& iVm;
    vm::FrameworkServices& iHost;
    std::shared_ptr<PlayerConnection> iConnection;
};

}  // namespace ext
