/*
 * Shared declarations for the Dwarfsift test program.
 *
 * Deliberately self-contained: no system headers are included, so the
 * debugging information of the objects built from these sources refers only
 * to files under src/ and never to a toolchain directory on the build host.
 */
#ifndef DWARFSIFT_TEST_COMMON_H
#define DWARFSIFT_TEST_COMMON_H

typedef unsigned char u8;
typedef unsigned short u16;
typedef unsigned int u32;
typedef int s32;

/* An enumeration with an explicit negative and a gap in its values. */
enum shape_kind {
    SHAPE_NONE = -1,
    SHAPE_POINT = 0,
    SHAPE_LINE = 1,
    SHAPE_BOX = 4
};

struct point {
    s32 x;
    s32 y;
};

/* A bit-field structure: members sharing one storage unit. */
struct flags {
    u32 enabled : 1;
    u32 mode : 3;
    u32 level : 4;
    u32 reserved : 24;
};

/* A nested structure with an array member, an enum and a pointer. */
struct shape {
    enum shape_kind kind;
    struct point corners[2];
    struct flags flags;
    const char *name;
    struct shape *next;
};

union word {
    u32 value;
    u16 halves[2];
    u8 bytes[4];
};

typedef s32 (*combine_fn)(s32 a, s32 b);

#define HISTORY_LEN 8

/* Defined in main.c */
extern struct shape g_shapes[3];
extern u32 g_ticks;
extern volatile s32 g_sink;

/* Defined in geometry.c */
extern struct point g_origin;
extern const u16 g_weights[HISTORY_LEN];
extern combine_fn g_combine;

s32 shape_area(const struct shape *sh);
s32 shapes_total(const struct shape *list, u32 count);
s32 weighted_sum(const s32 *values, u32 count);
u32 next_sequence(void);

/*
 * Inline helpers used by both translation units: the line programs of
 * both units switch into this header and back.
 */
static inline s32 clamp(s32 v, s32 lo, s32 hi)
{
    if (v < lo)
        return lo;
    if (v > hi)
        return hi;
    return v;
}

static inline s32 abs_diff(s32 a, s32 b)
{
    s32 d = a - b;
    return d < 0 ? -d : d;
}

#endif /* DWARFSIFT_TEST_COMMON_H */
