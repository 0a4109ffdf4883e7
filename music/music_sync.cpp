#include "music_sync.h"

#include <algorithm>
#include <cmath>

std::int64_t MusicSync::seekFor(const MusicPosition& music, double picture, std::int64_t queuedFrames, double rate)
{
    // Where the picture will be when the next frame written is heard.
    const double wanted = std::max(0.0, picture) + double(std::max<std::int64_t>(0, queuedFrames)) / rate;
    const auto wantedFrame = static_cast<std::int64_t>(std::floor(wanted * rate));
    const int before = beyond;
    beyond = 0;
    if (music.resuming)
        return wantedFrame;
    if (!music.known) // past the end stays past the end; a jump back into the track plays again
        return wantedFrame < music.frame ? wantedFrame : -1;
    const double ahead = double(music.frame) / rate - wanted;
    if (music.ended && ahead < 0.0) // the track is over: nothing to catch up with
        return -1;
    if (std::fabs(ahead) >= beyondDoubt)
        return wantedFrame;
    if (ahead > leadTolerance)
        beyond = std::max(before, 0) + 1;
    else if (ahead < -lagTolerance)
        beyond = std::min(before, 0) - 1;
    if (std::abs(beyond) < patience)
        return -1;
    beyond = 0;
    return wantedFrame;
}
