#include "app/entry.h"

int main(int argc, char** argv) { return dwarfsift::RunEntry(argc, argv); }
