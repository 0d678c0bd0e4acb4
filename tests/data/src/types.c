/* One global of each kind of type the symbol records describe. */

typedef struct {
    char a;
    short b;
} Pair;

struct Pack8 {
    int x;
    short y;
    char z;
};

struct Node {
    int value;
    struct Node *next;
};

struct Outer {
    char tag;
    struct Pack8 inner;
    int tail;
};

struct Flags {
    unsigned int ready : 1;
    unsigned int mode : 3;
    unsigned int count : 12;
    unsigned short level;
};

/* Structures met inside others by more than one global: the later globals
   take a structure's members from its first expansion in the unit. */
struct Link {
    struct Node node;
    struct Node *spare;
    int weight;
};

struct Holder {
    struct Node *node_ptr;
};

struct Wrap {
    struct Holder holder;
};

struct Chain {
    struct Link first;
    struct Wrap wrap;
    short count;
};

/* Its wrap meets no Node before: the node pointer's Node expands here. */
struct Nest {
    struct Wrap wrap;
};

enum __attribute__((packed)) Colour { RED, GREEN = 300, BLUE };

Pair pair = {'p', 7};
int counter = 1;
unsigned char buffer[16] = {1};
short *short_ptr = 0;
char *names[4] = {0};
struct Pack8 pack = {1, 2, 3};
struct Pack8 *pack_ptr = &pack;
enum Colour colour = GREEN;
float ratio = 1.5f;
long double wide = 2.0L;
int m[3][5] = {{1}};
struct Node head = {1, &head};
struct Outer outer = {'o', {1, 2, 3}, 4};
struct Flags flags = {1, 2, 3, 4};
struct Pack8 pack_copy = {4, 5, 6};
struct Chain chain = {{{2, &head}, &head, 3}, {{&head}}, 1};
struct Chain *chain_ptr = &chain;
struct Nest nest = {{{&head}}};

void _start(void)
{
    counter += buffer[0] + m[0][0] + pair.a + head.value + outer.tail +
               (int)flags.mode + pack_copy.x + colour + chain_ptr->count +
               (nest.wrap.holder.node_ptr != 0);
    for (;;) {
    }
}
