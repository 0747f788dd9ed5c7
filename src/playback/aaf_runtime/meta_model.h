#pragma once
// The part of the AAF object model this runtime writes, as a file's
// meta-dictionary states it: class definitions with their property
// definitions, and the type definitions those name (records with their
// members, references with their classes and targets).
//
// Threading: the tables are immutable; any thread may read them.
#include <cstdint>
#include <memory>
#include <vector>

#include "playback/aaf/stored_object.h"

namespace korvel::aafrt {

// Builds the stored MetaDictionary object describing `usedClasses` (class
// ids of the objects below the header), their ancestors, the meta-classes
// of the meta-dictionary itself, and every class and type reachable from
// their property definitions. Unknown class ids are left out.
std::unique_ptr<aaf::StoredObject> BuildMetaDictionary(const std::vector<aaf::Auid>& usedClasses);

}  // namespace korvel::aafrt
