#include "MixerArithmetic.h"

#include <algorithm>
#include <cmath>

namespace ext {

void FadeTail::add(double aLevel)
{
    total += aLevel;
    double a = std::fabs(std::trunc(total));
    factor = a > 0 ? std::pow(0.01 / a, 0.00625) : 0;
}

std::vector<int16_t> samplesOf(const uint8_t* aBytes, size_t aCount)
{
    std::vector<int16_t> samples(aCount / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(aBytes[2 * i] | (aBytes[2 * i + 1] << 8)));
    return samples;
}

void mixInto(std::vector<MixerChannel>& aChannels, FadeTail& aTail, int16_t* aOut, size_t aCount)
{
    for (size_t i = 0; i < aCount; ++i) {
        int64_t acc = aTail.step() * 256;
        for (MixerChannel& channel : aChannels) {
            if (channel.state != MixerChannel::EPlaying)
                continue;
            int64_t d = int64_t(channel.next()) * channel.volume;
            acc += d;
            if (channel.state != MixerChannel::EPlaying)
                aTail.add(double(d) / 256);
        }
        aOut[i] = int16_t(std::clamp<int64_t>(acc >> 8, -32768, 32767));
    }
}

void playChannel(MixerChannel& aChannel)
{
    aChannel.index = 0;
    aChannel.state = MixerChannel::EPlaying;
}

void stopChannel(MixerChannel& aChannel, FadeTail& aTail)
{
    if (aChannel.state == MixerChannel::EPlaying)
        aTail.add(double(int64_t(aChannel.next()) * aChannel.volume) / 256);
    aChannel.state = MixerChannel::EStopped;
}

}  // namespace ext
