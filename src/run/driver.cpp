// Placeholder: replaced by the run-control work.
#include "run/run.h"
int VLTmain(int, char**) { return 0; }
