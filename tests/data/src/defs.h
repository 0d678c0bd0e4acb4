/*
 * Globals declared extern here and defined in defs.c, one of each kind of
 * type: because defs.c includes this header, GCC describes each definition
 * as a second entry that points back at its declaration and carries only
 * the address, the name and type staying with the declaration.
 */
#ifndef DWARFSIFT_TEST_DEFS_H
#define DWARFSIFT_TEST_DEFS_H

typedef void *Handle;

enum run_mode {
    MODE_IDLE,
    MODE_RUN = 3,
    MODE_STOP
};

struct span {
    short lo;
    short hi;
};

/* A structure with a nested structure, an array and a pointer. */
struct sensor {
    unsigned char id;
    struct span limits;
    int readings[3];
    const char *label;
};

typedef struct {
    unsigned short port;
    unsigned char pin;
    unsigned char level;
} Gpio;

extern int g_count;
extern short g_offset;
extern char g_letter;
extern unsigned long long g_uptime;
extern int *g_cursor;
extern unsigned short g_table[6];
extern struct sensor g_sensor;
extern Gpio g_led;
extern enum run_mode g_mode;
extern Handle g_handle;
extern double g_gain;
extern struct span g_spans[2];

unsigned int defs_tick(unsigned int step);
unsigned int outline_run(unsigned int round);

#endif /* DWARFSIFT_TEST_DEFS_H */
