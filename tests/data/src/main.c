/*
 * Entry point and global data of the Dwarfsift test program.
 * Built freestanding (-nostdlib): _start is the ELF entry point.
 */
#include "common.h"

/* Initialised global array of structures (.data). */
struct shape g_shapes[3] = {
    { SHAPE_POINT, { { 1, 2 }, { 1, 2 } }, { 1, 0, 3, 0 }, "dot", &g_shapes[1] },
    { SHAPE_LINE, { { 0, 0 }, { 10, 5 } }, { 1, 2, 7, 0 }, "segment", &g_shapes[2] },
    { SHAPE_BOX, { { -4, -3 }, { 6, 9 } }, { 0, 5, 15, 0 }, "box", 0 },
};

/* Uninitialised globals (.bss). */
u32 g_ticks;
volatile s32 g_sink;
s32 g_history[HISTORY_LEN];

/* A read-only string and a pointer to it. */
const char g_banner[] = "dwarfsift test";
const char *g_banner_ptr = g_banner;

/* File-scope statics. */
static u32 s_calls = 5;
static union word s_word;

static s32 add(s32 a, s32 b)
{
    return a + b;
}

/* Called through a function pointer, so it keeps an out-of-line copy. */
static s32 spread(s32 a, s32 b)
{
    return abs_diff(a, b) + (s32)s_calls;
}

static void record(s32 value)
{
    /* Function-local static. */
    static u32 slot;
    g_history[slot % HISTORY_LEN] = clamp(value, -1000, 1000);
    slot++;
    s_calls++;
}

int main(void)
{
    s32 total = 0;
    u32 round;
    combine_fn fns[2] = { add, spread };

    for (round = 0; round < 4; round++) {
        s32 area = shapes_total(g_shapes, 3);
        s32 mixed = fns[round & 1u](area, (s32)round);
        record(mixed);
        total += mixed;
        g_ticks++;
    }
    s_word.value = (u32)total;
    total += weighted_sum(g_history, HISTORY_LEN);
    total += (s32)s_word.bytes[0] + (s32)next_sequence();
    g_sink = total;
    return total & 0x7f;
}

void _start(void)
{
    g_sink = main();
    for (;;)
        g_ticks++;
}
