/*
 * Entry point of the small line-table test program (start.c, filter.c,
 * scale.c): it only drives the other two units.
 */
#include "common.h"

s32 filter_push(u32 channel, s32 sample);
s32 filter_spread(void);
s32 scale_to_percent(s32 value, s32 full);

volatile s32 g_line_sink;

void _start(void)
{
    u32 n = 0;

    for (;;) {
        s32 v = filter_push(n, (s32)(n * 37u) - 500);
        g_line_sink = scale_to_percent(v, filter_spread() + 1);
        n++;
    }
}
