// Recipes for the databases of the golden tests: each case folder under
// cases/ names a recipe (file "recipe", one word), and golden_make_db runs it.
// GOLDEN_RECIPE(name) { ... } writes the database at `path` (recipes_*.cpp).
#pragma once

#include <cstddef>
#include <string>

#include "odb/odb_writer.h"

namespace golden {

using Recipe = void (*)(const std::string& path);

struct RecipeRegistrar {
  RecipeRegistrar(const char* name, Recipe recipe);
};

// Flips a byte of the values stored at path (found by their bytes, which
// must occur exactly once), so that reading them fails their checksum.
void damageStored(const std::string& path, const void* values, std::size_t size);

}  // namespace golden

#define GOLDEN_RECIPE(name)                                                        \
  static void golden_recipe_##name(const std::string& path);                       \
  static const ::golden::RecipeRegistrar golden_registrar_##name(#name, golden_recipe_##name); \
  static void golden_recipe_##name([[maybe_unused]] const std::string& path)
