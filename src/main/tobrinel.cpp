#include "Program.h"

int main(int argc, char** argv) { return RunTobrinel(argc, argv); }
