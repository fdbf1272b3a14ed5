#include "GifWriter.h"

#include <array>
#include <unordered_map>
#include <vector>

namespace vm {

namespace {

constexpr int kCubeRed = 6, kCubeGreen = 7, kCubeBlue = 6;
constexpr int kCubeSize = kCubeRed * kCubeGreen * kCubeBlue;  // 252

int level(int aValue, int aLevels)
{
    return (aValue * (aLevels - 1) + 127) / 255;
}

int levelValue(int aLevel, int aLevels)
{
    return (aLevel * 255 + (aLevels - 1) / 2) / (aLevels - 1);
}

bool transparent(QRgb aPixel)
{
    return qAlpha(aPixel) < 128;
}

// Palette (RGB triples) and one index per pixel.
struct Indexed {
    std::vector<uint8_t> palette;  // 256 * 3 bytes
    std::vector<uint8_t> pixels;
    int transparentIndex = -1;
};

Indexed indexImage(const QImage& aImage)
{
    const int width = aImage.width(), height = aImage.height();
    Indexed out;
    out.palette.assign(256 * 3, 0);
    out.pixels.resize(size_t(width) * size_t(height));

    // The image's own colours, as long as they fit beside a transparent index.
    std::unordered_map<QRgb, uint8_t> exact;
    bool anyTransparent = false, fits = true;
    for (int y = 0; y < height && fits; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(aImage.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (transparent(line[x])) {
                anyTransparent = true;
                continue;
            }
            QRgb rgb = line[x] & 0xFFFFFF;
            if (exact.count(rgb))
                continue;
            if (exact.size() == 255) {
                fits = false;
                break;
            }
            uint8_t index = uint8_t(exact.size());
            exact.emplace(rgb, index);
            out.palette[index * 3u] = uint8_t(qRed(rgb));
            out.palette[index * 3u + 1] = uint8_t(qGreen(rgb));
            out.palette[index * 3u + 2] = uint8_t(qBlue(rgb));
        }
    }
    if (fits) {
        out.transparentIndex = anyTransparent ? int(exact.size()) : -1;
    } else {
        for (int r = 0; r < kCubeRed; ++r)
            for (int g = 0; g < kCubeGreen; ++g)
                for (int b = 0; b < kCubeBlue; ++b) {
                    size_t index = size_t((r * kCubeGreen + g) * kCubeBlue + b) * 3;
                    out.palette[index] = uint8_t(levelValue(r, kCubeRed));
                    out.palette[index + 1] = uint8_t(levelValue(g, kCubeGreen));
                    out.palette[index + 2] = uint8_t(levelValue(b, kCubeBlue));
                }
        out.transparentIndex = kCubeSize;
    }
    for (int y = 0; y < height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(aImage.constScanLine(y));
        uint8_t* target = out.pixels.data() + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) {
            QRgb p = line[x];
            if (transparent(p))
                target[x] = uint8_t(out.transparentIndex);
            else if (fits)
                target[x] = exact[p & 0xFFFFFF];
            else
                target[x] = uint8_t((level(qRed(p), kCubeRed) * kCubeGreen + level(qGreen(p), kCubeGreen)) * kCubeBlue +
                                    level(qBlue(p), kCubeBlue));
        }
    }
    return out;
}

// Variable-width codes, least significant bit first, in sub-blocks of at
// most 255 bytes.
class CodeWriter {
public:
    explicit CodeWriter(QByteArray& aOut) : out(aOut) {}
    void write(uint32_t aCode, int aBits)
    {
        bits |= uint64_t(aCode) << count;
        count += aBits;
        while (count >= 8) {
            byte(uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    void finish()
    {
        if (count > 0)
            byte(uint8_t(bits));
        flushBlock();
        out.append(char(0));  // block terminator
    }

private:
    void byte(uint8_t aByte)
    {
        block[blockLength++] = aByte;
        if (blockLength == 255)
            flushBlock();
    }
    void flushBlock()
    {
        if (blockLength == 0)
            return;
        out.append(char(blockLength));
        out.append(reinterpret_cast<const char*>(block.data()), blockLength);
        blockLength = 0;
    }

    QByteArray& out;
    uint64_t bits = 0;
    int count = 0;
    std::array<uint8_t, 255> block{};
    int blockLength = 0;
};

// LZW with 8-bit roots: codes up to 12 bits, a clear code when the table is
// full.
void compress(const std::vector<uint8_t>& aPixels, QByteArray& aOut)
{
    constexpr uint32_t kClear = 256, kEnd = 257, kLastCode = 4095;
    CodeWriter writer(aOut);
    std::unordered_map<uint32_t, uint32_t> table;  // (prefix << 8 | byte) -> code
    table.reserve(8192);
    int codeSize = 9;
    uint32_t lastCode = kEnd;
    writer.write(kClear, codeSize);
    uint32_t current = aPixels.empty() ? 0 : aPixels[0];
    for (size_t i = 1; i < aPixels.size(); ++i) {
        uint32_t key = current << 8 | aPixels[i];
        auto found = table.find(key);
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        writer.write(current, codeSize);
        table.emplace(key, ++lastCode);
        if (lastCode >= (1u << codeSize))
            ++codeSize;
        if (lastCode == kLastCode) {
            writer.write(kClear, codeSize);
            table.clear();
            codeSize = 9;
            lastCode = kEnd;
        }
        current = aPixels[i];
    }
    writer.write(current, codeSize);
    writer.write(kEnd, codeSize);
    writer.finish();
}

void appendShort(QByteArray& aOut, int aValue)
{
    aOut.append(char(aValue & 0xFF));
    aOut.append(char((aValue >> 8) & 0xFF));
}

}  // namespace

QByteArray encodeGif(const QImage& aImage)
{
    if (aImage.isNull() || aImage.width() > 65535 || aImage.height() > 65535)
        return QByteArray();
    QImage image = aImage.convertToFormat(QImage::Format_ARGB32);
    Indexed indexed = indexImage(image);

    QByteArray out("GIF89a");
    appendShort(out, image.width());
    appendShort(out, image.height());
    out.append(char(0xF7));  // global palette of 256 entries, 8 bits per channel
    out.append(char(0));     // background index
    out.append(char(0));     // pixel aspect ratio
    out.append(reinterpret_cast<const char*>(indexed.palette.data()), qsizetype(indexed.palette.size()));
    if (indexed.transparentIndex >= 0) {
        out.append("\x21\xF9\x04\x01\x00\x00", 6);  // graphic control: transparency, no delay
        out.append(char(indexed.transparentIndex));
        out.append(char(0));
    }
    out.append(char(0x2C));  // image descriptor: the whole screen, no local palette
    appendShort(out, 0);
    appendShort(out, 0);
    appendShort(out, image.width());
    appendShort(out, image.height());
    out.append(char(0));
    out.append(char(8));  // LZW minimum code size
    compress(indexed.pixels, out);
    out.append(char(0x3B));
    return out;
}

}  // namespace vm
