// golden_make_db RECIPE PATH: writes the database of a golden recipe.
#include <cstdio>
#include <map>
#include <string>

#include "recipes.h"

namespace golden {

static std::map<std::string, Recipe>& registry() {
  static std::map<std::string, Recipe> recipes;
  return recipes;
}

RecipeRegistrar::RecipeRegistrar(const char* name, Recipe recipe) { registry()[name] = recipe; }

}  // namespace golden

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: golden_make_db RECIPE PATH\n");
    return 2;
  }
  const auto it = golden::registry().find(argv[1]);
  if (it == golden::registry().end()) {
    std::fprintf(stderr, "golden_make_db: no recipe named %s\n", argv[1]);
    return 2;
  }
  try {
    it->second(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "golden_make_db: %s\n", e.what());
    return 1;
  }
  return 0;
}
