/*
 * A small smoothing filter: a third unit whose line program runs through
 * the inline helpers of common.h from several functions.
 */
#include "common.h"

static s32 s_state[4];

static s32 step(s32 previous, s32 sample)
{
    s32 delta = clamp(sample - previous, -64, 64);
    return previous + delta / 2;
}

s32 filter_push(u32 channel, s32 sample)
{
    s32 *slot = &s_state[channel & 3u];

    if (abs_diff(*slot, sample) > 1000)
        *slot = sample;
    else
        *slot = step(*slot, sample);
    return *slot;
}

s32 filter_spread(void)
{
    s32 lo = s_state[0];
    s32 hi = s_state[0];
    u32 i;

    for (i = 1; i < 4; i++) {
        lo = clamp(s_state[i], -100000, lo);
        hi = clamp(hi, s_state[i], 100000);
    }
    return abs_diff(hi, lo);
}
