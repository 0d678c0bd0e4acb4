/* Writes the C sources of a generated benchmark image: N units that share
   a header of structure types (as real firmware units do) and each add
   their own types, globals, statics and functions with locals.
   Usage: gen_units N DIR */
#include <stdio.h>
#include <stdlib.h>

static FILE *open_in(const char *dir, const char *name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  FILE *f = fopen(path, "w");
  if (!f) {
    perror(path);
    exit(1);
  }
  return f;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s N DIR\n", argv[0]);
    return 2;
  }
  const int units = atoi(argv[1]);
  const char *dir = argv[2];

  FILE *h = open_in(dir, "common.h");
  fprintf(h,
          "typedef unsigned char u8;\ntypedef unsigned short u16;\n"
          "typedef unsigned int u32;\ntypedef long long s64;\n"
          "struct list { struct list *next, *prev; void *owner; };\n"
          "struct flags { unsigned ready : 1, busy : 1, mode : 3, level : 5, spare : 22; };\n"
          "typedef struct point { short x, y; } point_t;\n"
          "struct shape { point_t corner[4]; struct flags f; u32 colour; };\n"
          "struct node { struct list link; struct shape shapes[3]; struct node *child[2];\n"
          "  union { u32 word; u8 bytes[4]; } tag; const char *name; s64 stamp; double weight; };\n"
          "struct device { struct node root; struct list queue; struct device *parent;\n"
          "  void (*handler)(struct device *, int); u16 regs[16]; volatile u32 *base; };\n"
          "enum state { IDLE, RUNNING, STOPPED, FAILED };\n"
          "extern struct device board;\nextern u32 ticks;\n");
  fclose(h);

  for (int u = 0; u < units; ++u) {
    char name[64];
    snprintf(name, sizeof name, "u%04d.c", u);
    FILE *f = open_in(dir, name);
    fprintf(f, "#include \"common.h\"\n");
    fprintf(f, "struct local%d { struct node n; struct device *dev; enum state s; u8 buf[%d]; };\n", u,
            8 + u % 24);
    fprintf(f, "struct local%d g_local%d;\nstatic struct node s_nodes%d[4];\n", u, u, u);
    fprintf(f, "static u32 s_count%d;\nstruct device *g_dev%d = &board;\n", u, u);
    for (int k = 0; k < 4; ++k) {
      fprintf(f,
              "int f%d_%d(struct device *d, int a, point_t p, struct local%d *l) {\n"
              "  static int calls;\n  struct shape sh = {0};\n  struct node *n = &s_nodes%d[a & 3];\n"
              "  register int i;\n  u32 sum = ticks;\n  double w = n->weight;\n"
              "  for (i = 0; i < 4; ++i) { sh.corner[i].x = p.x + i; sh.corner[i].y = p.y - i; sum += d->regs[i]; }\n"
              "  sh.f.level = a; l->s = (enum state)(a & 3); n->child[0] = n; calls++;\n"
              "  if (d->handler) d->handler(d, a + %d);\n"
              "  s_count%d += sum + (u32)w + sh.f.level + calls;\n  return (int)(sum ^ %d);\n}\n",
              u, k, u, u, k, u, k);
    }
    fclose(f);
  }

  FILE *m = open_in(dir, "main.c");
  fprintf(m, "#include \"common.h\"\nstruct device board;\nu32 ticks;\n");
  fprintf(m, "void _start(void) { for (;;) ++ticks; }\n");
  fclose(m);
  return 0;
}
