#pragma once
// AAF stored objects on the compound file: one storage per object named
// after the property that holds it, with the object's class id and a
// "properties" stream; collections of objects with their index streams;
// weak references through the root's referenced-properties table.
//
// The object model builds a tree of StoredObject at save time and hands its
// root to SaveStoredFile. Nothing here knows what an AAF class means.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "playback/aaf/compound_file.h"

namespace korvel::aaf {

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

struct Auid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    friend bool operator==(const Auid&, const Auid&) = default;
};

// A mob id: a 12-byte label, length, instance number and material AUID.
struct MobId {
    std::array<std::uint8_t, 12> label{};
    std::uint8_t length = 0;
    std::uint8_t instanceHigh = 0;
    std::uint8_t instanceMid = 0;
    std::uint8_t instanceLow = 0;
    Auid material;
    friend bool operator==(const MobId&, const MobId&) = default;
};

struct Rational {
    std::int32_t numerator = 0;
    std::int32_t denominator = 1;
};

struct TimeStamp {
    std::int16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
};

ClassId ToClassId(const Auid& id);

// Little-endian encoders appending to `out`. Arrays of fixed and variable
// size are their elements' encodings one after the other.
void AppendU8(std::vector<std::uint8_t>& out, std::uint8_t v);
void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t v);
void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v);
void AppendU64(std::vector<std::uint8_t>& out, std::uint64_t v);
void AppendAuid(std::vector<std::uint8_t>& out, const Auid& v);
void AppendMobId(std::vector<std::uint8_t>& out, const MobId& v);
void AppendRational(std::vector<std::uint8_t>& out, const Rational& v);
void AppendTimeStamp(std::vector<std::uint8_t>& out, const TimeStamp& v);
// UTF-16 units and a terminating 0 unit.
void AppendString(std::vector<std::uint8_t>& out, std::u16string_view v);

std::vector<std::uint8_t> EncodeString(std::u16string_view v);
std::vector<std::uint8_t> EncodeAuid(const Auid& v);
std::vector<std::uint8_t> EncodeMobId(const MobId& v);
// An indirect value: byte order, the value's type id, then its bytes.
std::vector<std::uint8_t> EncodeIndirect(const Auid& type, const std::vector<std::uint8_t>& value);

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------

enum class StoredForm : std::uint16_t {
    Data = 0x82,
    StrongReference = 0x22,
    StrongReferenceVector = 0x32,
    StrongReferenceSet = 0x3A,
    WeakReference = 0x02,
    WeakReferenceVector = 0x12,
    WeakReferenceSet = 0x1A,
};

struct StoredObject;

// The pids from the root object down to the collection a weak reference
// points into, for example Header, Dictionary, DataDefinitions.
using PropertyPath = std::vector<std::uint16_t>;

struct StoredProperty {
    std::uint16_t pid = 0;
    StoredForm form = StoredForm::Data;
    std::string name;                              // names storages and index streams
    std::vector<std::uint8_t> data;                // Data
    std::vector<std::unique_ptr<StoredObject>> objects;  // strong references
    std::vector<std::vector<std::uint8_t>> keys;   // set elements' keys; weak keys
    std::uint16_t keyPid = 0;                      // sets and weak references
    PropertyPath target;                           // weak references
    std::uint8_t emptyKeySize = 0;                 // a set's key size when it holds no key
};

struct StoredObject {
    explicit StoredObject(const Auid& classId) : classId(classId) {}

    void SetData(std::uint16_t pid, std::vector<std::uint8_t> bytes);
    // Returns the child, owned by this object.
    StoredObject* SetStrongReference(std::uint16_t pid, std::string_view name,
                                     std::unique_ptr<StoredObject> child);
    void SetStrongReferenceVector(std::uint16_t pid, std::string_view name,
                                  std::vector<std::unique_ptr<StoredObject>> elements);
    // Each element comes with its key (the value of its `keyPid` property).
    void SetStrongReferenceSet(std::uint16_t pid, std::string_view name, std::uint16_t keyPid,
                               std::vector<std::unique_ptr<StoredObject>> elements,
                               std::vector<std::vector<std::uint8_t>> keys);
    void SetWeakReference(std::uint16_t pid, PropertyPath target, std::uint16_t keyPid,
                          std::vector<std::uint8_t> key);
    // `form` is WeakReferenceVector or WeakReferenceSet.
    void SetWeakReferences(std::uint16_t pid, std::string_view name, StoredForm form, PropertyPath target,
                           std::uint16_t keyPid, std::vector<std::vector<std::uint8_t>> keys);

    Auid classId;
    std::vector<StoredProperty> properties;  // in the order they are written
};

// The storage name for a property: its name cut so that the longest
// element name ("{ffffffff}" appended) still fits 31 units, "-" and the pid
// in hexadecimal.
std::u16string StorageNameFor(std::string_view propertyName, std::uint16_t pid);

// Writes `root` (the Root object: meta-dictionary and header references) as
// the file's root storage and everything below it. `fileClassId` goes into
// the compound file's header. False with the reason when a name, a value or
// a collection does not fit the format, or the file cannot be written.
bool SaveStoredFile(const std::string& path, const ClassId& fileClassId, const StoredObject& root,
                    std::string& error);

// Builds the compound file without writing it (the save's first half).
bool BuildStoredFile(CompoundFile& file, const ClassId& fileClassId, const StoredObject& root,
                     std::string& error);

}  // namespace korvel::aaf
