/*
 * Definitions of the globals declared in defs.h, in the usual embedded
 * layout: initialised ones in .data, the rest in .bss, beside file-scope and
 * function-scope statics.
 */
#include "defs.h"

int g_count = 12;
short g_offset = -3;
char g_letter = 'k';
unsigned long long g_uptime;
int *g_cursor = &g_count;
unsigned short g_table[6] = { 1, 1, 2, 3, 5, 8 };
struct sensor g_sensor = { 7, { -40, 85 }, { 20, 21, 22 }, "temp" };
Gpio g_led = { 0x4002, 5, 1 };
enum run_mode g_mode = MODE_RUN;
Handle g_handle;
double g_gain = 0.75;
struct span g_spans[2] = { { 0, 10 }, { -5, 5 } };

/* File-scope statics. */
static unsigned int s_events;
static struct span s_window = { -1, 1 };

unsigned int defs_tick(unsigned int step)
{
    /* Function-scope static. */
    static unsigned int last_step = 1;

    g_uptime += step;
    s_events++;
    if (g_sensor.limits.lo < s_window.lo)
        s_window.lo = g_sensor.limits.lo;
    g_handle = &g_led;
    last_step = step ^ last_step;
    return last_step + s_events + (unsigned int)g_table[step & 3u];
}
