// The solver and the small cube deck of the end-to-end tests.
#include "e2e_support.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "test_support.h"

namespace e2e {

std::string findSolver() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/ccx";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string cubeDeck() {
  const int n = 2;
  auto id = [&](int i, int j, int k) { return 1 + i + (n + 1) * (j + (n + 1) * k); };
  std::ostringstream s;
  s << "*NODE,NSET=NALL\n";
  for (int k = 0; k <= n; ++k)
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) s << id(i, j, k) << "," << 0.5 * i << "," << 0.5 * j << "," << 0.5 * k << "\n";
  s << "*ELEMENT,TYPE=C3D8,ELSET=EALL\n";
  int e = 1;
  for (int k = 0; k < n; ++k)
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i)
        s << e++ << "," << id(i, j, k) << "," << id(i + 1, j, k) << "," << id(i + 1, j + 1, k) << "," << id(i, j + 1, k)
          << "," << id(i, j, k + 1) << "," << id(i + 1, j, k + 1) << "," << id(i + 1, j + 1, k + 1) << ","
          << id(i, j + 1, k + 1) << "\n";
  s << "*NSET,NSET=FIX\n1,4,7,10,13,16,19,22,25\n"
       "*NSET,NSET=LOAD\n3,6,9\n"
       "*ELSET,ELSET=EX,GENERATE\n1,8,2\n"
       "*MATERIAL,NAME=STEEL\n*ELASTIC\n210000,0.3\n*DENSITY\n2.\n"
       "*SOLID SECTION,ELSET=EALL,MATERIAL=STEEL\n"
       "*STEP\n*STATIC\n0.5,1.\n*BOUNDARY\nFIX,1,3\n*CLOAD\nLOAD,1,10.\n"
       "*NODE PRINT,NSET=LOAD\nU\n"
       "*EL PRINT,ELSET=EALL,TOTALS=YES\nEMAS\n"
       "*EL PRINT,ELSET=EX\nS\n"
       "*NODE FILE\nU\n*EL FILE\nS\n*END STEP\n"
       "*STEP\n*STATIC\n*CLOAD\nLOAD,2,5.\n*END STEP\n";
  return s.str();
}

bool solve(const std::string& dir, const std::string& job, std::string& why) {
  const auto r = testsupport::run({findSolver(), "-i", job}, dir);
  if (r.status == 0 && testsupport::exists(dir + "/" + job + ".frd")) return true;
  why = "ccx failed with status " + std::to_string(r.status) + ":\n" +
        r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  return false;
}

}  // namespace e2e
