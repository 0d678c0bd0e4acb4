/*
 * Blinky: toggles the four LEDs of port D from a 1 kHz SysTick time base.
 */
#include "blinky.h"

/* Global structure in .data (initial value stored in flash). */
blink_state_t g_blink = {
    BLINK_SLOW,
    500u,
    0u,
    0u,
    {
        { 1u, 0u, BLINK_SLOW, LED_GREEN, 0u, 0u },
        { 1u, 0u, BLINK_FAST, LED_ORANGE, 64u, 0u },
        { 1u, 1u, BLINK_PATTERN, LED_RED, 128u, 0u },
        { 0u, 0u, BLINK_OFF, LED_BLUE, 192u, 0u },
    },
    GPIOD,
};

/* Constant global array in .rodata (flash). */
const uint16_t g_pattern[8] = { 100u, 100u, 100u, 400u, 400u, 400u, 100u, 900u };

/* Global array in .bss. */
uint32_t g_history[8];

volatile uint32_t g_tick_count;

/* File-scope statics. */
static uint32_t s_mode_changes;
static tick_hook_t s_tick_hook;

/* Called from the vector table once per millisecond. */
void systick_handler(void)
{
    g_tick_count++;
    if (s_tick_hook != 0)
        s_tick_hook(g_tick_count);
}

static void record_toggle(uint32_t now)
{
    g_history[g_blink.toggles & 7u] = now;
    g_blink.toggles++;
}

static uint32_t next_pattern_delay(void)
{
    /* Function-local static: position in g_pattern. */
    static uint8_t index;
    uint32_t delay = g_pattern[index];
    index = (uint8_t)((index + 1u) & 7u);
    return delay;
}

static uint32_t period_for(const struct led_flags *led, uint32_t base)
{
    switch ((enum blink_mode)led->mode) {
    case BLINK_FAST:
        return base / 4u;
    case BLINK_PATTERN:
        return next_pattern_delay();
    case BLINK_SLOW:
        return base;
    default:
        return 0u;
    }
}

static void update_leds(blink_state_t *state, uint32_t now)
{
    uint32_t i;

    for (i = 0; i < 4u; i++) {
        struct led_flags *led = &state->leds[i];
        uint32_t period = period_for(led, state->period_ms);
        int on;

        if (!led->enabled || period == 0u)
            continue;
        on = (int)(((now + led->phase) / period) & 1u);
        if (led->inverted)
            on = !on;
        led_write(state->port, led->pin, on);
    }
    state->last_toggle = now;
    record_toggle(now);
}

/* Blue heartbeat LED, called from the SysTick handler through s_tick_hook. */
static void heartbeat(uint32_t now)
{
    led_write(GPIOD, LED_BLUE, (now % 1000u) < 100u);
}

static void set_mode(enum blink_mode mode)
{
    if (s_mode_changes >= 8u)
        return;
    if (g_blink.mode != mode) {
        g_blink.mode = mode;
        s_mode_changes++;
    }
}

int main(void)
{
    uint32_t pin;

    RCC_AHB1ENR |= RCC_AHB1ENR_GPIODEN;
    for (pin = LED_GREEN; pin <= LED_BLUE; pin++)
        GPIOD->MODER = (GPIOD->MODER & ~(3u << (pin * 2u))) | (1u << (pin * 2u));

    s_tick_hook = heartbeat;
    SYSTICK->LOAD = CORE_CLOCK_HZ / TICK_HZ - 1u;
    SYSTICK->VAL = 0u;
    SYSTICK->CTRL = SYSTICK_CLKSOURCE | SYSTICK_TICKINT | SYSTICK_ENABLE;

    for (;;) {
        uint32_t now = g_tick_count;
        if (now - g_blink.last_toggle >= 50u)
            update_leds(&g_blink, now);
        if (now >= 10000u)
            set_mode(BLINK_FAST);
    }
}
