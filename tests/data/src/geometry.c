/*
 * Computations over the shapes declared in common.h.
 */
#include "common.h"

struct point g_origin = { 3, -7 };
const u16 g_weights[HISTORY_LEN] = { 1, 2, 3, 5, 8, 13, 21, 34 };

static s32 max_of(s32 a, s32 b)
{
    return a > b ? a : b;
}

combine_fn g_combine = max_of;

/* Uninitialised file-scope static. */
static s32 s_largest;

s32 shape_area(const struct shape *sh)
{
    s32 width;
    s32 height;

    switch (sh->kind) {
    case SHAPE_POINT:
        return 0;
    case SHAPE_LINE:
        return abs_diff(sh->corners[0].x, sh->corners[1].x)
            + abs_diff(sh->corners[0].y, sh->corners[1].y);
    case SHAPE_BOX:
        width = abs_diff(sh->corners[0].x, sh->corners[1].x);
        height = abs_diff(sh->corners[0].y, sh->corners[1].y);
        return clamp(width * height, 0, 10000) * (s32)(sh->flags.level + 1u);
    default:
        return -1;
    }
}

s32 shapes_total(const struct shape *list, u32 count)
{
    s32 sum = 0;
    u32 i;

    for (i = 0; i < count && list != 0; i++, list = list->next) {
        s32 area = shape_area(list);
        if (list->flags.enabled)
            sum += area;
        s_largest = g_combine(s_largest, area);
    }
    return sum + abs_diff(g_origin.x, g_origin.y);
}

s32 weighted_sum(const s32 *values, u32 count)
{
    s32 acc = 0;
    u32 i;

    for (i = 0; i < count; i++) {
        s32 term = values[i] * (s32)g_weights[i % HISTORY_LEN];
        acc = clamp(acc + term, -100000, 100000);
    }
    return acc + s_largest;
}

u32 next_sequence(void)
{
    /* Function-local static with an initialiser (.data). */
    static u32 seq = 100;
    seq += 7;
    return seq;
}
