/*
 * A static function that GCC inlines where it is called directly but also
 * keeps out of line because its address is taken: at -O2 its debugging
 * information is an abstract entry plus a concrete out-of-line one whose
 * parameters and locals carry only their locations.
 */
#include "defs.h"

typedef unsigned int (*reduce_fn)(const unsigned short *samples, unsigned int n_samples,
                                  unsigned int bias);

static unsigned int accumulate(const unsigned short *samples, unsigned int n_samples,
                               unsigned int bias)
{
    static unsigned int accumulate_calls;
    unsigned int acc = bias;
    unsigned int idx;

    for (idx = 0; idx < n_samples; idx++)
        acc += (unsigned int)samples[idx] << (idx & 3u);
    accumulate_calls++;
    return acc ^ accumulate_calls;
}

static unsigned int first_of(const unsigned short *samples, unsigned int n_samples,
                             unsigned int bias)
{
    return n_samples != 0 ? samples[0] + bias : bias;
}

/* The table takes accumulate's address, so an out-of-line copy remains. */
static reduce_fn const reducers[2] = { accumulate, first_of };

unsigned int outline_run(unsigned int round)
{
    /* The direct call, inlined at -O2. */
    unsigned int direct = accumulate(g_table, 6u, round);

    return direct + reducers[round & 1u](g_table, (unsigned int)g_count & 7u, round);
}

void _start(void)
{
    unsigned int round = 0;

    for (;;) {
        g_count += (int)outline_run(round);
        g_count += (int)defs_tick(round);
        *g_cursor += g_offset + g_letter + (int)g_mode;
        round++;
    }
}
