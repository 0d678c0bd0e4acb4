/*
 * Integer scaling with the clamp helper of common.h inlined twice. No
 * division: the SH build links no libgcc.
 */
#include "common.h"

s32 scale_to_percent(s32 value, s32 full)
{
    s32 percent;

    if (full <= 0)
        return 0;
    while (full > 128) {
        full >>= 1;
        value >>= 1;
    }
    percent = clamp((value * 100) >> 7, -100, 100);
    return clamp(percent, 0, 100);
}
