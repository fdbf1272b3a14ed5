// The mixer's arithmetic without a sound server: clamping, volume, the fade
// tail after a stop, the end of a sound, and raw file decoding.
#include <gtest/gtest.h>

#include "VirtualMachineExtensions/AudioMixer/MixerArithmetic.h"

using namespace ext;

namespace {

MixerChannel playing(std::vector<int16_t> aSamples, int aVolume = 256)
{
    MixerChannel c;
    c.samples = std::move(aSamples);
    c.volume = aVolume;
    playChannel(c);
    return c;
}

std::vector<int16_t> mix(std::vector<MixerChannel>& aChannels, FadeTail& aTail, size_t aCount)
{
    std::vector<int16_t> out(aCount, 12345);
    mixInto(aChannels, aTail, out.data(), aCount);
    return out;
}

}  // namespace

TEST(MixerArithmetic, SumsClampInsteadOfWrapping)
{
    FadeTail tail;
    std::vector<MixerChannel> channels{playing({30000, -30000, 100}), playing({30000, -30000, 200})};
    EXPECT_EQ(mix(channels, tail, 4), (std::vector<int16_t>{32767, -32768, 300, 0}));
    // A volume far above 256 saturates too; a negative one inverts.
    std::vector<MixerChannel> loud{playing({32767, 1}, 1 << 30), playing({0, 5}, -256)};
    EXPECT_EQ(mix(loud, tail, 2), (std::vector<int16_t>{32767, 32767}));
}

TEST(MixerArithmetic, VolumeScalesWithArithmeticShift)
{
    FadeTail tail;
    std::vector<MixerChannel> channels{playing({1000, -1001, 3}, 128)};
    // -1001 * 128 = -128128; >> 8 rounds toward minus infinity: -501.
    EXPECT_EQ(mix(channels, tail, 3), (std::vector<int16_t>{500, -501, 1}));
}

TEST(MixerArithmetic, StoppedSoundFadesOverAboutOneHundredSamples)
{
    FadeTail tail;
    std::vector<MixerChannel> channels{playing(std::vector<int16_t>(50, 1000))};
    EXPECT_EQ(mix(channels, tail, 2), (std::vector<int16_t>{1000, 1000}));
    stopChannel(channels[0], tail);
    std::vector<int16_t> out = mix(channels, tail, 120);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 8),
              (std::vector<int16_t>{930, 865, 805, 749, 697, 649, 604, 562}));
    for (size_t i = 0; i < 96; ++i)
        EXPECT_GT(out[i], 0) << i;
    for (size_t i = 96; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0) << i;
    // Stopping again changes nothing; the tail adds to playing channels.
    stopChannel(channels[0], tail);
    std::vector<MixerChannel> next{playing({10, 10, 10}), channels[0]};
    stopChannel(next[1], tail);
    EXPECT_EQ(mix(next, tail, 2), (std::vector<int16_t>{10, 10}));
}

TEST(MixerArithmetic, TailStartsAtTheLevelTheChannelPlayedAt)
{
    FadeTail tail;
    std::vector<MixerChannel> channels{playing({1000, 1000}, 128), playing({1000, 1000}, 0)};
    stopChannel(channels[0], tail);
    // 1000 at volume 128 is 500; its factor (0.01 / 500)^0.00625 gives 467.31.
    EXPECT_EQ(mix(channels, tail, 1), (std::vector<int16_t>{467}));
    FadeTail quiet;
    stopChannel(channels[1], quiet);
    EXPECT_EQ(mix(channels, quiet, 3), (std::vector<int16_t>{0, 0, 0}));
}

TEST(MixerArithmetic, SoundEndsWithoutTailAndRestartsFromTheStart)
{
    FadeTail tail;
    std::vector<MixerChannel> channels{playing({100, 200, 300})};
    EXPECT_EQ(mix(channels, tail, 5), (std::vector<int16_t>{100, 200, 300, 0, 0}));
    EXPECT_EQ(channels[0].state, MixerChannel::EStopped);
    EXPECT_EQ(tail.total, 0);
    playChannel(channels[0]);
    EXPECT_EQ(mix(channels, tail, 2), (std::vector<int16_t>{100, 200}));
    playChannel(channels[0]);  // restart while playing
    EXPECT_EQ(mix(channels, tail, 1), (std::vector<int16_t>{100}));
    // A never-played channel is silent.
    std::vector<MixerChannel> idle(1);
    idle[0].samples = {5, 5};
    EXPECT_EQ(mix(idle, tail, 2), (std::vector<int16_t>{0, 0}));
}

TEST(MixerArithmetic, RawFilesAreLittleEndianAndIgnoreAnOddByte)
{
    const uint8_t bytes[] = {0x01, 0x02, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(samplesOf(bytes, 5), (std::vector<int16_t>{0x0201, -1}));
    const uint8_t extremes[] = {0x00, 0x80, 0xFF, 0x7F};
    EXPECT_EQ(samplesOf(extremes, 4), (std::vector<int16_t>{-32768, 32767}));
    EXPECT_TRUE(samplesOf(bytes, 1).empty());
}
