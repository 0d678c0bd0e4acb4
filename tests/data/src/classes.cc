// C++ objects for the class inputs: a polymorphic base, classes derived from
// one and from two bases, a static data member, a namespace-scoped object,
// class-typed globals, locals and parameters. Freestanding: no library, so
// the few runtime hooks the compiler calls are defined at the end.
typedef unsigned int u32;
typedef unsigned short u16;

struct Pair {
    int a;
    int b;
};

class Port {
public:
    explicit Port(u32 base) : base_(base), errors_(0) { ++instances; }
    virtual ~Port() {}
    virtual u32 read(u32 offset) { return base_ + offset + errors_; }

    static u32 instances;

protected:
    u32 base_;
    u16 errors_;
};

u32 Port::instances = 0;

class SerialPort : public Port {
public:
    SerialPort(u32 base, u32 baud) : Port(base), baud_(baud), fifo_() {}
    u32 read(u32 offset) override { return Port::read(offset) ^ baud_ ^ fifo_[offset & 7]; }

private:
    u32 baud_;
    unsigned char fifo_[8];
};

// Two bases: both stand in the object at their own offsets.
class TaggedPort : public Pair, public SerialPort {
public:
    TaggedPort() : Pair{1, 2}, SerialPort(0x40020000u, 9600u), tag_('T') {}

private:
    char tag_;
};

namespace board {
SerialPort console(0x4000C000u, 115200u);
}

Port plain_port(0x40010000u);
TaggedPort tagged;
SerialPort *active = &board::console;

u32 poll(SerialPort &port, Port copy)
{
    SerialPort local(0x40030000u, 57600u);
    return port.read(4) + copy.read(1) + local.read(2) + Port::instances;
}

extern "C" void _start()
{
    volatile u32 sink = poll(*active, plain_port) + static_cast<u32>(tagged.a);
    (void)sink;
    for (;;) {
    }
}

// What the compiler's code calls without a C++ runtime.
extern "C" {
void *__dso_handle = nullptr;
int __cxa_atexit(void (*)(void *), void *, void *) { return 0; }
// The ARM EABI name of the same hook.
int __aeabi_atexit(void *, void (*)(void *), void *) { return 0; }
}
void operator delete(void *) noexcept {}
void operator delete(void *, unsigned int) noexcept {}
