// Fuzz target: the CalculiX result parsers (tools/ccx2odb) on arbitrary bytes, read as a .frd, a .dat and a .sta.
// Anything but success or a ccx::ParseError is a finding. Decks are left out: their *INCLUDE reads other files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dat.h"
#include "frd.h"
#include "sta.h"

template <class F>
static void parse(const char* name, const std::string& text, F body) {
  try {
    ccx::InputFile in(name, text);
    body(in);
  } catch (const ccx::ParseError&) {}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  parse("fuzz.frd", text, [](ccx::InputFile& in) {
    ccx::FrdReader r(in);
    while (r.next() != ccx::FrdReader::Item::End) {}
  });
  parse("fuzz.dat", text, [](ccx::InputFile& in) {
    ccx::DatReader r(in);
    ccx::DatBlock b;
    while (r.next(b)) {}
  });
  parse("fuzz.sta", text, [](ccx::InputFile& in) { ccx::readSta(in); });
  return 0;
}
