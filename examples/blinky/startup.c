/*
 * Minimal startup code: vector table, reset handler and default handler.
 * The reset handler copies .data from flash to RAM and clears .bss, then
 * calls main().
 */
#include "board.h"

typedef void (*vector_t)(void);

/* Provided by blinky.ld */
extern uint32_t _estack;
extern uint32_t _sidata;
extern uint32_t _sdata;
extern uint32_t _edata;
extern uint32_t _sbss;
extern uint32_t _ebss;

void reset_handler(void);
void default_handler(void);

void default_handler(void)
{
    for (;;) {
    }
}

void reset_handler(void)
{
    const uint32_t *src = &_sidata;
    uint32_t *dst;

    for (dst = &_sdata; dst < &_edata; )
        *(volatile uint32_t *)dst++ = *src++;
    for (dst = &_sbss; dst < &_ebss; )
        *(volatile uint32_t *)dst++ = 0u;

    (void)main();
    for (;;) {
    }
}

/* The first 16 Cortex-M exception vectors; device interrupts are unused. */
__attribute__((section(".isr_vector"), used))
const vector_t g_vectors[16] = {
    (vector_t)&_estack, /* initial stack pointer */
    reset_handler,      /* reset */
    default_handler,    /* NMI */
    default_handler,    /* hard fault */
    default_handler,    /* memory management fault */
    default_handler,    /* bus fault */
    default_handler,    /* usage fault */
    0, 0, 0, 0,         /* reserved */
    default_handler,    /* SVCall */
    default_handler,    /* debug monitor */
    0,                  /* reserved */
    default_handler,    /* PendSV */
    systick_handler,    /* SysTick */
};
