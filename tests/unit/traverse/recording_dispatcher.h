// A stand-in for the field dispatcher that records every call it gets, and
// a fixture that starts the library runtime and writes scratch databases.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "odb/odb.h"
#include "test_support.h"

struct DispatchCall {
  std::string field, step;
  int increment = 0;
  std::string kind, region, indent;
  int depth = 0;
  int values = 0;  // values of the field output handed over
};

// Every odbE_printField call since the last clear.
std::vector<DispatchCall>& recordedCalls();

// "KIND NAME" per call, e.g. "ELEMENT_SET __A", for order comparisons.
std::vector<std::string> callOrder();

class TraverseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens a database written into the test's scratch folder; with
  // internalSets the library loads the internal sets too.
  odb_Odb& open(const std::string& file, bool internalSets = false);
  std::string path(const std::string& file) const { return dir_.file(file); }

 private:
  testsupport::TempDir dir_;
  std::vector<odb_Odb*> open_;
};
