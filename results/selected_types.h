// The file types a user can tick, grouped by category, and the set of types
// currently selected, from which the filter of a category search is built.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace selvane {

// The containers of type options, in the order they are shown.
enum class TypeCategory { Photo, Audio, Video, Office, Zip, Other };

// Identifies one type option; the GUI maps it to its control.
using TypeOptionId = uint32_t;

struct TypeOption {
  TypeOptionId id = 0;
  TypeCategory category = TypeCategory::Other;
  std::string_view keys;  // the type keys it stands for, separated by "|"
};

// Every type option of the six containers, in container and option order; an
// option's id is its index here.
std::span<const TypeOption> TypeOptions();
const TypeOption* TypeOptionById(TypeOptionId id);

// Type key -> the option that carries it, ordered by plain byte comparison.
using SelectedTypes = std::map<std::string, TypeOptionId, std::less<>>;

// Empties the set and registers the given options in order (by default all of
// TypeOptions()). A key that several options carry belongs to the last of them.
void ResetSelectedTypes(SelectedTypes& selected, std::span<const TypeOption> options = TypeOptions());
// Every key of the option (split at "|"; an empty part is a key too) now maps to it.
void RegisterTypeOption(SelectedTypes& selected, const TypeOption& option);
// Removes every key of the option that is present.
void UnregisterTypeOption(SelectedTypes& selected, const TypeOption& option);
// The option registered for a type key.
std::optional<TypeOptionId> FindTypeOption(const SelectedTypes& selected, std::string_view key);
// The category a normalised type name is shown under: the container of its
// option, or Other when it has none.
TypeCategory CategoryOfType(const SelectedTypes& selected, std::string_view typeName);

// "*.key1|*.key2|..." in key order; the five category lists (pictures, audio,
// video, documents, archives) when nothing is selected.
std::string BuildCategoryFilter(const SelectedTypes& selected);

// Rewrites a type list ("*.jpg|*.png") into the text a category search takes:
// "*" becomes "." (dropped after a "\"), and each of ".^$+?{}[]" gets a "\" in front.
std::string PatternToFilter(std::string_view pattern);

}  // namespace selvane
