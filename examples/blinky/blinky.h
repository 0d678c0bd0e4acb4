/*
 * Application types of the blinky example.
 */
#ifndef BLINKY_BLINKY_H
#define BLINKY_BLINKY_H

#include "board.h"

enum blink_mode {
    BLINK_OFF = 0,
    BLINK_SLOW = 1,
    BLINK_FAST = 2,
    BLINK_PATTERN = 3
};

/* Per-LED settings packed into one word. */
struct led_flags {
    uint32_t enabled : 1;
    uint32_t inverted : 1;
    uint32_t mode : 2;   /* enum blink_mode */
    uint32_t pin : 4;
    uint32_t phase : 8;
    uint32_t unused : 16;
};

typedef struct blink_state {
    enum blink_mode mode;
    uint32_t period_ms;
    uint32_t last_toggle;
    uint32_t toggles;
    struct led_flags leds[4];
    gpio_regs_t *port;
} blink_state_t;

typedef void (*tick_hook_t)(uint32_t now);

extern blink_state_t g_blink;
extern const uint16_t g_pattern[8];
extern uint32_t g_history[8];

#endif /* BLINKY_BLINKY_H */
