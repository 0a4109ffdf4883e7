#include "show_clock.h"

#include <algorithm>
#include <cmath>

double SoundFollower::correction(double clock, double t, std::optional<double> heard)
{
    double correction = 0.0;
    if (heard) {
        const double difference = *heard - t;
        if (settling) {
            // Held where the music is held, and taken as it is once it moves.
            correction = difference;
            if (settleHeard && *heard > *settleHeard)
                settling = false, settleHeard.reset();
            else
                settleHeard = heard;
        } else if (difference > slewLimit) {
            correction = difference;
        } else if (difference < -slewLimit) {
            correction = hasLast ? std::min(0.0, lastShown - t) : 0.0;
        } else {
            const double most = slewRate * std::max(0.0, clock - lastClock);
            correction = std::clamp(difference, -most, most);
        }
    }
    hasLast = true;
    lastClock = clock;
    lastShown = t + correction;
    return correction;
}
