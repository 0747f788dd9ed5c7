// Index of this file:
// [SECTION] Value encodings
// [SECTION] Building objects
// [SECTION] Writing objects into storages
#include "playback/aaf/stored_object.h"

#include <cstdio>

namespace korvel::aaf {

namespace {

constexpr std::uint8_t kLittleEndian = 0x4C;  // 'L'
constexpr std::uint8_t kPropertiesVersion = 0x20;
constexpr std::size_t kMaxValueSize = 0xFFFF;
// "{ffffffff}": the longest suffix an element's storage name gets.
constexpr std::size_t kElementSuffix = 10;

std::string Hex(std::uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(v));
    return text;
}

}  // namespace

// [SECTION] Value encodings

ClassId ToClassId(const Auid& id) {
    std::vector<std::uint8_t> bytes;
    AppendAuid(bytes, id);
    ClassId out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = bytes[i];
    return out;
}

void AppendU8(std::vector<std::uint8_t>& out, std::uint8_t v) { out.push_back(v); }

void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendAuid(std::vector<std::uint8_t>& out, const Auid& v) {
    AppendU32(out, v.data1);
    AppendU16(out, v.data2);
    AppendU16(out, v.data3);
    out.insert(out.end(), v.data4.begin(), v.data4.end());
}

void AppendMobId(std::vector<std::uint8_t>& out, const MobId& v) {
    out.insert(out.end(), v.label.begin(), v.label.end());
    out.push_back(v.length);
    out.push_back(v.instanceHigh);
    out.push_back(v.instanceMid);
    out.push_back(v.instanceLow);
    AppendAuid(out, v.material);
}

void AppendRational(std::vector<std::uint8_t>& out, const Rational& v) {
    AppendU32(out, static_cast<std::uint32_t>(v.numerator));
    AppendU32(out, static_cast<std::uint32_t>(v.denominator));
}

void AppendTimeStamp(std::vector<std::uint8_t>& out, const TimeStamp& v) {
    AppendU16(out, static_cast<std::uint16_t>(v.year));
    out.push_back(v.month);
    out.push_back(v.day);
    out.push_back(v.hour);
    out.push_back(v.minute);
    out.push_back(v.second);
    out.push_back(v.fraction);
}

void AppendString(std::vector<std::uint8_t>& out, std::u16string_view v) {
    for (char16_t c : v) AppendU16(out, c);
    AppendU16(out, 0);
}

std::vector<std::uint8_t> EncodeString(std::u16string_view v) {
    std::vector<std::uint8_t> out;
    out.reserve((v.size() + 1) * 2);
    AppendString(out, v);
    return out;
}

std::vector<std::uint8_t> EncodeAuid(const Auid& v) {
    std::vector<std::uint8_t> out;
    AppendAuid(out, v);
    return out;
}

std::vector<std::uint8_t> EncodeMobId(const MobId& v) {
    std::vector<std::uint8_t> out;
    AppendMobId(out, v);
    return out;
}

std::vector<std::uint8_t> EncodeIndirect(const Auid& type, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> out;
    out.reserve(17 + value.size());
    out.push_back(kLittleEndian);
    AppendAuid(out, type);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

// [SECTION] Building objects

void StoredObject::SetData(std::uint16_t pid, std::vector<std::uint8_t> bytes) {
    StoredProperty p;
    p.pid = pid;
    p.form = StoredForm::Data;
    p.data = std::move(bytes);
    properties.push_back(std::move(p));
}

StoredObject* StoredObject::SetStrongReference(std::uint16_t pid, std::string_view name,
                                               std::unique_ptr<StoredObject> child) {
    StoredProperty p;
    p.pid = pid;
    p.form = StoredForm::StrongReference;
    p.name = name;
    StoredObject* raw = child.get();
    p.objects.push_back(std::move(child));
    properties.push_back(std::move(p));
    return raw;
}

void StoredObject::SetStrongReferenceVector(std::uint16_t pid, std::string_view name,
                                            std::vector<std::unique_ptr<StoredObject>> elements) {
    StoredProperty p;
    p.pid = pid;
    p.form = StoredForm::StrongReferenceVector;
    p.name = name;
    p.objects = std::move(elements);
    properties.push_back(std::move(p));
}

void StoredObject::SetStrongReferenceSet(std::uint16_t pid, std::string_view name, std::uint16_t keyPid,
                                         std::vector<std::unique_ptr<StoredObject>> elements,
                                         std::vector<std::vector<std::uint8_t>> keys) {
    StoredProperty p;
    p.pid = pid;
    p.form = StoredForm::StrongReferenceSet;
    p.name = name;
    p.keyPid = keyPid;
    p.objects = std::move(elements);
    p.keys = std::move(keys);
    properties.push_back(std::move(p));
}

void StoredObject::SetWeakReference(std::uint16_t pid, PropertyPath target, std::uint16_t keyPid,
                                    std::vector<std::uint8_t> key) {
    StoredProperty p;
    p.pid = pid;
    p.form = StoredForm::WeakReference;
    p.target = std::move(target);
    p.keyPid = keyPid;
    p.keys.push_back(std::move(key));
    properties.push_back(std::move(p));
}

void StoredObject::SetWeakReferences(std::uint16_t pid, std::string_view name, StoredForm form,
                                     PropertyPath target, std::uint16_t keyPid,
                                     std::vector<std::vector<std::uint8_t>> keys) {
    StoredProperty p;
    p.pid = pid;
    p.form = form;
    p.name = name;
    p.target = std::move(target);
    p.keyPid = keyPid;
    p.keys = std::move(keys);
    properties.push_back(std::move(p));
}

std::u16string StorageNameFor(std::string_view propertyName, std::uint16_t pid) {
    std::string suffix(1, '-');
    suffix += Hex(pid);
    const std::size_t room = kMaxEntryName - kElementSuffix - suffix.size();
    std::u16string name = ToU16(propertyName);
    if (name.size() > room) name.resize(room);
    return name + ToU16(suffix);
}

// [SECTION] Writing objects into storages

namespace {

class StoredFileBuilder {
public:
    StoredFileBuilder(CompoundFile& file, std::string& error) : file_(file), error_(error) {}

    bool WriteObject(CompoundFile::EntryId storage, const StoredObject& object) {
        std::vector<std::uint8_t> index;
        std::vector<std::uint8_t> values;
        index.reserve(4 + object.properties.size() * 6);
        AppendU8(index, kLittleEndian);
        AppendU8(index, kPropertiesVersion);
        if (object.properties.size() > 0xFFFF) return Fail("an object has more than 65,535 properties");
        AppendU16(index, static_cast<std::uint16_t>(object.properties.size()));

        for (const StoredProperty& p : object.properties) {
            const std::size_t before = values.size();
            if (!WriteProperty(storage, p, values)) return false;
            const std::size_t length = values.size() - before;
            if (length > kMaxValueSize)
                return Fail("the value of property 0x" + Hex(p.pid) + " is longer than 65,535 bytes");
            AppendU16(index, p.pid);
            AppendU16(index, static_cast<std::uint16_t>(p.form));
            AppendU16(index, static_cast<std::uint16_t>(length));
        }
        index.insert(index.end(), values.begin(), values.end());
        return file_.AddStream(storage, u"properties", std::move(index), error_);
    }

    // The table of weak-reference target paths, in order of first use.
    std::vector<std::uint8_t> ReferencedProperties() const {
        std::vector<std::uint8_t> out;
        std::uint32_t pids = 0;
        for (const PropertyPath& path : paths_) pids += static_cast<std::uint32_t>(path.size() + 1);
        AppendU8(out, kLittleEndian);
        AppendU16(out, static_cast<std::uint16_t>(paths_.size()));
        AppendU32(out, pids);
        for (const PropertyPath& path : paths_) {
            for (std::uint16_t pid : path) AppendU16(out, pid);
            AppendU16(out, 0);
        }
        return out;
    }
    bool HasWeakReferences() const { return !paths_.empty(); }

private:
    bool Fail(std::string reason) {
        error_ = std::move(reason);
        return false;
    }

    bool TagFor(const PropertyPath& path, std::uint16_t& tag) {
        if (path.empty()) return Fail("a weak reference has no target path");
        for (std::size_t i = 0; i < paths_.size(); ++i) {
            if (paths_[i] == path) {
                tag = static_cast<std::uint16_t>(i);
                return true;
            }
        }
        if (paths_.size() >= 0xFFFF) return Fail("too many weak reference targets");
        tag = static_cast<std::uint16_t>(paths_.size());
        paths_.push_back(path);
        return true;
    }

    bool KeySize(const StoredProperty& p, std::uint8_t& size) {
        size = p.keys.empty() ? p.emptyKeySize : static_cast<std::uint8_t>(p.keys.front().size());
        for (const auto& key : p.keys) {
            if (key.size() != p.keys.front().size() || key.size() > 0xFF)
                return Fail("the keys of property 0x" + Hex(p.pid) + " differ in size");
        }
        return true;
    }

    bool AddChild(CompoundFile::EntryId storage, std::u16string_view name, const StoredObject* child) {
        if (!child) return Fail("a strong reference points to nothing");
        CompoundFile::EntryId id = 0;
        if (!file_.AddStorage(storage, name, ToClassId(child->classId), id, error_)) return false;
        return WriteObject(id, *child);
    }

    bool WriteProperty(CompoundFile::EntryId storage, const StoredProperty& p, std::vector<std::uint8_t>& values) {
        switch (p.form) {
        case StoredForm::Data:
            values.insert(values.end(), p.data.begin(), p.data.end());
            return true;
        case StoredForm::StrongReference: {
            if (p.objects.size() != 1) return Fail("a strong reference holds no single object");
            const std::u16string name = StorageNameFor(p.name, p.pid);
            AppendString(values, name);
            return AddChild(storage, name, p.objects.front().get());
        }
        case StoredForm::StrongReferenceVector:
        case StoredForm::StrongReferenceSet: {
            const bool isSet = p.form == StoredForm::StrongReferenceSet;
            std::uint8_t keySize = 0;
            if (isSet && !KeySize(p, keySize)) return false;
            if (isSet && p.keys.size() != p.objects.size())
                return Fail("a set's elements and keys differ in number");
            const std::u16string name = StorageNameFor(p.name, p.pid);
            AppendString(values, name);
            const auto count = static_cast<std::uint32_t>(p.objects.size());
            std::vector<std::uint8_t> index;
            AppendU32(index, count);
            AppendU32(index, count);  // first free local key
            AppendU32(index, 0xFFFFFFFF);  // last free local key: none freed
            if (isSet) {
                AppendU16(index, p.keyPid);
                AppendU8(index, keySize);
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                AppendU32(index, i);
                if (isSet) {
                    AppendU32(index, 1);  // reference count
                    index.insert(index.end(), p.keys[i].begin(), p.keys[i].end());
                }
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                std::string element(1, '{');
                element += Hex(i);
                element += '}';
                if (!AddChild(storage, name + ToU16(element), p.objects[i].get())) return false;
            }
            return file_.AddStream(storage, name + u" index", std::move(index), error_);
        }
        case StoredForm::WeakReference: {
            std::uint16_t tag = 0;
            std::uint8_t keySize = 0;
            if (p.keys.size() != 1) return Fail("a weak reference holds no single key");
            if (!TagFor(p.target, tag) || !KeySize(p, keySize)) return false;
            AppendU16(values, tag);
            AppendU16(values, p.keyPid);
            AppendU8(values, keySize);
            values.insert(values.end(), p.keys.front().begin(), p.keys.front().end());
            return true;
        }
        case StoredForm::WeakReferenceVector:
        case StoredForm::WeakReferenceSet: {
            std::uint16_t tag = 0;
            std::uint8_t keySize = 0;
            if (!TagFor(p.target, tag) || !KeySize(p, keySize)) return false;
            const std::u16string name = StorageNameFor(p.name, p.pid);
            AppendString(values, name);
            std::vector<std::uint8_t> index;
            AppendU32(index, static_cast<std::uint32_t>(p.keys.size()));
            AppendU16(index, tag);
            AppendU16(index, p.keyPid);
            AppendU8(index, keySize);
            for (const auto& key : p.keys) index.insert(index.end(), key.begin(), key.end());
            return file_.AddStream(storage, name + u" index", std::move(index), error_);
        }
        }
        return Fail("a property has an unknown stored form");
    }

    CompoundFile& file_;
    std::string& error_;
    std::vector<PropertyPath> paths_;
};

}  // namespace

bool BuildStoredFile(CompoundFile& file, const ClassId& fileClassId, const StoredObject& root,
                     std::string& error) {
    error.clear();
    file.SetFileClassId(fileClassId);
    file.SetClassId(CompoundFile::kRoot, ToClassId(root.classId));
    StoredFileBuilder builder(file, error);
    if (!builder.WriteObject(CompoundFile::kRoot, root)) return false;
    if (builder.HasWeakReferences() &&
        !file.AddStream(CompoundFile::kRoot, u"referenced properties", builder.ReferencedProperties(), error))
        return false;
    return true;
}

bool SaveStoredFile(const std::string& path, const ClassId& fileClassId, const StoredObject& root,
                    std::string& error) {
    CompoundFile file;
    if (!BuildStoredFile(file, fileClassId, root, error)) return false;
    return file.Save(path, error);
}

}  // namespace korvel::aaf
