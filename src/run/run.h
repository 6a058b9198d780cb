// Run control: process entry, command line and run driver.
#pragma once

#include "odb/odb.h"

extern int called;  // umkInitialize calls not yet matched by umkFinalize
extern int active;  // 1 while the library runtime is up

void umkInitialize(int& active);
void umkFinalize(int& active);
void VLTFinalize();

// The whole process entry: starts the runtime, registers VLTFinalize to run
// at exit, runs VLTmain, reports escaping exceptions, shuts the runtime down.
// Returns the process status.
int harvestMain(int argc, char** argv);

int VLTmain(int argc, char** argv);
bool fileExists(const odb_String& name);
void rightTrim(odb_String& name, const char* suffix);
void printExecutionSummary();
