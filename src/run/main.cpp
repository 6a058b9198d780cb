// Placeholder: replaced by the run-control work.
#include "run/run.h"
int main(int argc, char** argv) { return VLTmain(argc, argv); }
