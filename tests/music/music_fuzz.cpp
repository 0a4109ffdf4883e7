// libFuzzer target: any bytes through the soundtrack's own decoder set-up, from memory, every
// frame read. Built by the fuzz preset only; scripts/fuzz.sh runs it.
#include "music/music_decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    decodeMusicMemory(data, size);
    return 0;
}
