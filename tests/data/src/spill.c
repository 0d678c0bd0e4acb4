/*
 * The frame-base inputs at -O2: values that the compiler keeps in stack
 * slots for part of their lives, so that their location lists hold entries
 * relative to the frame base. spill_mix keeps more values live across calls
 * than there are call-saved registers; spill_args takes parameters on the
 * stack and overwrites them, so their lists start at their stack slots.
 */
typedef unsigned int u32;

volatile u32 g_spill_sink;

__attribute__((noinline)) static u32 step(u32 x)
{
    return g_spill_sink ^ x;
}

__attribute__((noinline)) u32 spill_mix(u32 a, u32 b, u32 c)
{
    u32 v0 = step(a);
    u32 v1 = step(b + v0);
    u32 v2 = step(c + v1);
    u32 v3 = step(v0 ^ v2);
    u32 v4 = step(v1 ^ v3);
    u32 v5 = step(v2 ^ v4);
    u32 v6 = step(v3 ^ v5);
    u32 v7 = step(v4 ^ v6);
    u32 v8 = step(v5 ^ v7);
    u32 v9 = step(v6 ^ v8);
    u32 v10 = step(v7 ^ v9);
    u32 v11 = step(v8 ^ v10);

    v0 += step(v11);
    return v0 + v1 + v2 + v3 + v4 + v5 + v6 + v7 + v8 + v9 + v10 + v11 + a + b + c;
}

__attribute__((noinline)) u32 spill_args(u32 a, u32 b, u32 c, u32 d, u32 e, u32 f,
                                         u32 g, u32 h, u32 i, u32 j, u32 k)
{
    u32 s = step(a ^ i);

    i = step(i + s);
    s += step(b ^ j ^ s);
    j = step(j ^ i);
    s += step(c ^ k ^ s);
    k = step(k + j);
    s += step(d ^ e ^ s);
    return s + f + g + h + i * j + k;
}

void _start(void)
{
    u32 n = 0;

    for (;;) {
        g_spill_sink = spill_mix(n, n + 1, g_spill_sink);
        g_spill_sink = spill_args(n, 1, 2, 3, 4, 5, 6, 7, n + 8, n ^ 9, g_spill_sink);
        n++;
    }
}
