/*
 * Register definitions for the example board: a Cortex-M4 microcontroller
 * with four LEDs on GPIO port D, pins 12 to 15.
 *
 * No system headers are used; the fixed-width types come from the
 * compiler's predefined macros so the example builds with -nostdlib and
 * -ffreestanding and its debugging information names only these files.
 */
#ifndef BLINKY_BOARD_H
#define BLINKY_BOARD_H

typedef __UINT8_TYPE__ uint8_t;
typedef __UINT16_TYPE__ uint16_t;
typedef __UINT32_TYPE__ uint32_t;

/* Peripheral register blocks, laid out as in the reference manual. */
typedef struct {
    volatile uint32_t MODER;   /* 0x00 mode */
    volatile uint32_t OTYPER;  /* 0x04 output type */
    volatile uint32_t OSPEEDR; /* 0x08 output speed */
    volatile uint32_t PUPDR;   /* 0x0C pull-up / pull-down */
    volatile uint32_t IDR;     /* 0x10 input data */
    volatile uint32_t ODR;     /* 0x14 output data */
    volatile uint32_t BSRR;    /* 0x18 bit set / reset */
} gpio_regs_t;

typedef struct {
    volatile uint32_t CTRL;  /* 0x00 control and status */
    volatile uint32_t LOAD;  /* 0x04 reload value */
    volatile uint32_t VAL;   /* 0x08 current value */
    volatile uint32_t CALIB; /* 0x0C calibration */
} systick_regs_t;

#define RCC_AHB1ENR (*(volatile uint32_t *)0x40023830u)
#define RCC_AHB1ENR_GPIODEN (1u << 3)

#define GPIOD ((gpio_regs_t *)0x40020C00u)
#define SYSTICK ((systick_regs_t *)0xE000E010u)

#define SYSTICK_ENABLE (1u << 0)
#define SYSTICK_TICKINT (1u << 1)
#define SYSTICK_CLKSOURCE (1u << 2)

#define CORE_CLOCK_HZ 16000000u
#define TICK_HZ 1000u

#define LED_GREEN 12u
#define LED_ORANGE 13u
#define LED_RED 14u
#define LED_BLUE 15u

/* Drive one LED pin high or low through the atomic set/reset register. */
static inline void led_write(gpio_regs_t *port, uint32_t pin, int on)
{
    port->BSRR = on ? (1u << pin) : (1u << (pin + 16u));
}

/* Shared between the startup code and the application. */
extern volatile uint32_t g_tick_count;
void systick_handler(void);
int main(void);

#endif /* BLINKY_BOARD_H */
