#include "wav.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

namespace Synth {

namespace {

void put16(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xff));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xff));
}

void put32(std::vector<unsigned char>& out, uint32_t value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

void putTag(std::vector<unsigned char>& out, const char* tag)
{
    out.insert(out.end(), tag, tag + 4);
}

} // namespace

bool writeWav(const std::string& path, const Bus& bus)
{
    const uint32_t channels = 2;
    const uint32_t bytesPerSample = 2;
    const uint32_t rate = static_cast<uint32_t>(sampleRate);
    const uint32_t dataBytes = static_cast<uint32_t>(bus.frames() * channels * bytesPerSample);

    std::vector<unsigned char> file;
    file.reserve(44 + dataBytes);
    putTag(file, "RIFF");
    put32(file, 36 + dataBytes);
    putTag(file, "WAVE");
    putTag(file, "fmt ");
    put32(file, 16);
    put16(file, 1);  // integer PCM
    put16(file, channels);
    put32(file, rate);
    put32(file, rate * channels * bytesPerSample);
    put16(file, channels * bytesPerSample);
    put16(file, 8 * bytesPerSample);
    putTag(file, "data");
    put32(file, dataBytes);

    Rng dither(0x5EED);
    for (size_t n = 0; n < bus.frames(); ++n) {
        for (float sample : {bus.left[n], bus.right[n]}) {
            // Exact silence stays exact: the fade's end must not turn into hiss.
            double noise = sample == 0.0f ? 0.0 : dither.uniform() - dither.uniform();
            double scaled = std::round(static_cast<double>(sample) * 32767.0 + noise);
            int16_t value = static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
            put16(file, static_cast<uint16_t>(value));
        }
    }

    std::ofstream stream(path, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(stream);
}

} // namespace Synth
