// Fuzz target: the CalculiX deck reader (tools/ccx2odb) on arbitrary bytes. Anything but success or a
// ccx::ParseError is a finding. No other file is read: an *INCLUDE fails with a ParseError.
#include <cstddef>
#include <cstdint>
#include <string>

#include "inp.h"
#include "mass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const ccx::InpModel m = ccx::readInpText("fuzz.inp", std::string(reinterpret_cast<const char*>(data), size), "");
    ccx::computeMass(m);
  } catch (const ccx::ParseError&) {}
  return 0;
}
