// Placeholder: replaced by the history work.
#include "history/history.h"
void odbE_printHistoryRegion(const odb_HistoryRegion&, std::ofstream&, odb_String, odb_String, int) {}
