// The arithmetic of the audio mixer, free of any sound server: channels of
// raw 16-bit samples, each with a volume (256 = unchanged), mixed into one
// output stream with integer arithmetic, plus a fade tail that lets a
// stopped sound decay to silence in about 160 samples instead of clicking.
//
// Output sample: acc = tail step x 256 + the sum of sample x volume over the
// playing channels, then acc >> 8 (arithmetic) clamped to -32768..32767.
// The accumulator is 64 bits wide, so no volume can make it wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ext {

struct MixerChannel {
    enum State { EPlaying = 1, EStopped = 2 };

    std::vector<int16_t> samples;
    uint32_t index = 0;   // next sample to play
    int32_t volume = 256;
    int state = EStopped;

    // The next sample: 0 when stopped; at the end the channel stops and
    // yields 0.
    int32_t next()
    {
        if (state != EPlaying)
            return 0;
        if (index >= samples.size()) {
            state = EStopped;
            return 0;
        }
        return samples[index++];
    }
};

// The fade tail, in sample units.
struct FadeTail {
    double total = 0;
    double factor = 0;

    // Decays one sample; the level truncated toward zero.
    int64_t step()
    {
        total *= factor;
        return int64_t(total);
    }
    // Adds a level and sets the decay so that it falls to 0.01 in 160 samples.
    void add(double aLevel);
};

// Samples of a raw sound file: signed 16-bit little-endian, an odd last byte
// ignored.
std::vector<int16_t> samplesOf(const uint8_t* aBytes, size_t aCount);

// Mixes aCount output samples into aOut. Channels are taken in number order.
void mixInto(std::vector<MixerChannel>& aChannels, FadeTail& aTail, int16_t* aOut, size_t aCount);

// Restarts the channel from its first sample.
void playChannel(MixerChannel& aChannel);
// Stops a channel; a playing one hands its next sample, at its volume, to
// the tail.
void stopChannel(MixerChannel& aChannel, FadeTail& aTail);

}  // namespace ext
