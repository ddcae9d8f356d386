// layout and diff: the record's fields as text or JSON, and the
// compatibility of two versions of a schema.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "morvanec/commands.h"
#include "morvanec/diagnostics.h"
#include "morvanec/fields.h"
#include "convert/json_writer.h"
#include "morvanec/schema_file.h"
#include "schema/fingerprint.h"
#include "schema/layout_tree.h"
#include "schema/schema.h"
#include "schema/unit.h"

namespace morvane {
namespace {

// The schema at path and its fields; null after a diagnostic.
std::unique_ptr<Schema> LoadFields(const std::string& path, Diagnostics& diagnostics,
                                   std::vector<Field>& fields) {
    std::unique_ptr<Schema> schema = LoadSchemaFile(path, diagnostics);
    if (schema == nullptr) return nullptr;
    if (!RecordFields(*schema, fields)) {
        diagnostics.Error(
            path, 0, 0,
            "the record has more than " + std::to_string(kMaxListedFields) + " fields to list");
        return nullptr;
    }
    return schema;
}

std::string FieldJson(const Field& f) {
    return "{\"path\": " + JsonString(f.path) + ", \"offset\": " + std::to_string(f.offset) +
           ", \"size\": " + std::to_string(f.size) + ", \"type\": " + JsonString(f.type) + "}";
}

void WriteMembers(const std::vector<LayoutMember>& members, JsonWriter& json, bool top) {
    static const char* const kKinds[] = {"item", "enum", "text", "struct"};
    json.BeginArray();
    for (const LayoutMember& m : members) {
        if (top) json.Break("\n  ");
        json.BeginObject();
        json.Key("name").String(m.name);
        json.Key("kind").String(kKinds[m.kind]);
        if (m.kind == LayoutMember::kStruct) {
            json.Key("template").String(m.templateName);
        } else {
            json.Key("type").String(SchemaTypeName(m.type));
        }
        if (m.kind == LayoutMember::kEnum)
            json.Key("enum").String(m.enumeration != nullptr ? m.enumeration->name : "");
        json.Key("offset").Integer(m.offset);
        json.Key("size").Integer(m.size);
        json.Key("repetitions").Integer(m.repetitions);
        json.Key("element_size").Integer(m.elementSize);
        json.Key("visible").Bool(m.visible);
        if (m.kind == LayoutMember::kStruct) {
            json.Key("members");
            WriteMembers(m.members, json, false);
        }
        json.EndObject();
    }
    if (top && !members.empty()) json.Whitespace("\n");
    json.EndArray();
}

// The layout --json document: the record's fields (as diff compares
// them, each marked visible or not), its tree of members and its
// enumerations.
std::string LayoutJson(const Schema& schema, const std::vector<Field>& fields) {
    const LayoutTree tree = BuildLayoutTree(schema);
    std::string out;
    JsonWriter json(&out);
    json.BeginObject();
    json.Key("name").String(tree.name);
    json.Key("id").Integer(tree.id);
    json.Key("size").Integer(tree.size);
    json.Key("byte_order").String("little");
    json.Key("fingerprint").String(FingerprintText(tree.fingerprint));
    json.Key("fields").BeginArray();
    for (const Field& f : fields) {
        json.Break("\n  ").BeginObject();
        json.Key("path").String(f.path);
        json.Key("offset").Integer(f.offset);
        json.Key("size").Integer(f.size);
        json.Key("type").String(f.type);
        json.Key("visible").Bool(f.visible);
        json.EndObject();
    }
    if (!fields.empty()) json.Whitespace("\n");
    json.EndArray();
    json.Key("members");
    WriteMembers(tree.members, json, true);
    json.Key("enums").BeginArray();
    for (const EnumUnit* e : tree.enums) {
        json.Break("\n  ").BeginObject();
        json.Key("name").String(e->name);
        json.Key("items").BeginArray();
        for (const EnumItem& item : e->items) {
            json.BeginObject();
            json.Key("name").String(item.name);
            json.Key("value").Integer(item.id);
            json.EndObject();
        }
        json.EndArray().EndObject();
    }
    if (!tree.enums.empty()) json.Whitespace("\n");
    json.EndArray();
    json.EndObject();
    out += '\n';
    return out;
}

// The type without its repetition count: a count that changes is a
// resize, not a new type.
std::string BaseType(const Field& f) {
    size_t bracket = f.type.rfind('[');
    return bracket == std::string::npos || f.type.back() != ']' ? f.type
                                                                : f.type.substr(0, bracket);
}

// One difference between the two versions. old or now is null for a field
// added or removed. A change of an enumerated field's items has both, and
// the item in each version (null where it has none).
struct Change {
    const char* kind;  // "added", "removed", "moved", "resized", "retyped", or an item's
    const Field* old;
    const Field* now;
    const EnumItem* oldItem = nullptr;
    const EnumItem* newItem = nullptr;
};

std::string KindColumn(const char* kind) {
    std::string what = kind;
    what.resize(std::max<size_t>(8, what.size() + 1), ' ');
    return what;
}

// What became of the items of an enumerated field, by name and value:
//  - an item whose value changed ("renumbered"), an item gone whose value
//    nothing else has ("dropped"), and a value now under the name of
//    another old item ("reassigned") change what programs built against
//    the old header read: incompatible;
//  - an item that keeps its value under a new name ("renamed") and a new
//    item with a new value ("added item") are compatible, with a note.
bool CompareItems(const Field& old, const Field& now, std::vector<Change>& changes) {
    const auto& before = old.enumeration->items;
    const auto& after = now.enumeration->items;
    auto byName = [](const std::vector<EnumItem>& items, const std::string& name) {
        auto it = std::find_if(items.begin(), items.end(),
                               [&](const EnumItem& e) { return e.name == name; });
        return it == items.end() ? nullptr : &*it;
    };
    auto byValue = [](const std::vector<EnumItem>& items, int32_t id) {
        auto it = std::find_if(items.begin(), items.end(),
                               [&](const EnumItem& e) { return e.id == id; });
        return it == items.end() ? nullptr : &*it;
    };
    bool compatible = true;
    for (const EnumItem& item : before) {
        if (byName(before, item.name) != &item) continue;  // a name given twice counts once
        if (const EnumItem* same = byName(after, item.name)) {
            if (same->id != item.id) {
                changes.push_back({"renumbered", &old, &now, &item, same});
                compatible = false;
            }
            continue;
        }
        const EnumItem* holder = byValue(after, item.id);
        if (holder == nullptr) {
            changes.push_back({"dropped", &old, &now, &item, nullptr});
            compatible = false;
        } else if (byName(before, holder->name) != nullptr) {
            changes.push_back({"reassigned", &old, &now, &item, holder});
            compatible = false;
        } else {
            changes.push_back({"renamed", &old, &now, &item, holder});
        }
    }
    for (const EnumItem& item : after) {
        if (byName(after, item.name) != &item || byName(before, item.name) != nullptr) continue;
        if (byValue(before, item.id) == nullptr)
            changes.push_back({"added item", &old, &now, nullptr, &item});
    }
    return compatible;
}

std::string ItemText(const Change& c) {
    const std::string kind = c.kind;
    const std::string out = KindColumn(c.kind) + c.old->path + "  ";
    if (kind == "renumbered")
        return out + c.oldItem->name + " " + std::to_string(c.oldItem->id) + " -> " +
               std::to_string(c.newItem->id);
    if (kind == "dropped") return out + c.oldItem->name + " " + std::to_string(c.oldItem->id);
    if (kind == "added item") return out + c.newItem->name + " " + std::to_string(c.newItem->id);
    return out + "value " + std::to_string(c.oldItem->id) + ": " + c.oldItem->name + " -> " +
           c.newItem->name;  // renamed, reassigned
}

std::string ItemJson(const EnumItem* item) {
    if (item == nullptr) return "null";
    return "{\"item\": " + JsonString(item->name) + ", \"value\": " + std::to_string(item->id) + "}";
}

std::string ChangeText(const Change& c) {
    if (c.oldItem != nullptr || c.newItem != nullptr) return ItemText(c);
    char text[160];
    const Field& f = c.old != nullptr ? *c.old : *c.now;
    std::string out = KindColumn(c.kind) + f.path + "  ";
    if (c.old == nullptr || c.now == nullptr) {
        std::snprintf(text, sizeof text, "offset %lld, size %lld, ",
                      static_cast<long long>(f.offset), static_cast<long long>(f.size));
        return out + text + f.type;
    }
    if (std::strcmp(c.kind, "moved") == 0) {
        std::snprintf(text, sizeof text, "offset %lld -> %lld",
                      static_cast<long long>(c.old->offset), static_cast<long long>(c.now->offset));
    } else if (std::strcmp(c.kind, "resized") == 0) {
        std::snprintf(text, sizeof text, "size %lld -> %lld", static_cast<long long>(c.old->size),
                      static_cast<long long>(c.now->size));
    } else {
        return out + "type " + c.old->type + " -> " + c.now->type;
    }
    return out + text;
}

}  // namespace

int RunLayout(const Invocation& call) {
    Diagnostics diagnostics;
    std::vector<Field> fields;
    std::unique_ptr<Schema> schema = LoadFields(call.args[0], diagnostics, fields);
    if (schema == nullptr) return kExitInput;
    if (call.json) {
        const std::string json = LayoutJson(*schema, fields);
        std::fwrite(json.data(), 1, json.size(), stdout);
        return kExitOk;
    }
    std::printf("schema %s id %d\n%8s %8s  %-12s %s\n", schema->name.c_str(), schema->id, "offset",
                "size", "type", "path");
    for (const Field& f : fields) {
        std::printf("%8lld %8lld  %-12s %s\n", static_cast<long long>(f.offset),
                    static_cast<long long>(f.size), f.type.c_str(), f.path.c_str());
    }
    std::printf("record size %d\n", schema->Size());
    return kExitOk;
}

int RunDiff(const Invocation& call) {
    Diagnostics diagnostics;
    std::vector<Field> oldFields;
    std::vector<Field> newFields;
    std::unique_ptr<Schema> oldSchema = LoadFields(call.args[0], diagnostics, oldFields);
    std::unique_ptr<Schema> newSchema = LoadFields(call.args[1], diagnostics, newFields);
    if (oldSchema == nullptr || newSchema == nullptr) return kExitInput;

    std::unordered_map<std::string, const Field*> byPath;
    for (const Field& f : newFields) byPath.emplace(f.path, &f);
    std::vector<Change> changes;
    bool compatible = true;
    for (const Field& f : oldFields) {
        auto it = byPath.find(f.path);
        if (it == byPath.end()) {
            changes.push_back({"removed", &f, nullptr});
            compatible = false;
            continue;
        }
        const Field& now = *it->second;
        byPath.erase(it);
        if (now.offset != f.offset) changes.push_back({"moved", &f, &now});
        if (now.size != f.size) changes.push_back({"resized", &f, &now});
        if (BaseType(now) != BaseType(f)) changes.push_back({"retyped", &f, &now});
        compatible = compatible && now.offset == f.offset && now.size == f.size &&
                     BaseType(now) == BaseType(f);
        if (f.enumeration != nullptr && now.enumeration != nullptr)
            compatible = CompareItems(f, now, changes) && compatible;
    }
    for (const Field& f : newFields) {
        auto it = byPath.find(f.path);
        if (it != byPath.end() && it->second == &f) changes.push_back({"added", nullptr, &f});
    }
    const int32_t oldSize = oldSchema->Size();
    const int32_t newSize = newSchema->Size();

    if (call.json) {
        std::printf(
            "{\"compatible\": %s,\n \"size\": {\"old\": %d, \"new\": %d},\n"
            " \"id\": {\"old\": %d, \"new\": %d},\n \"changes\": [",
            compatible ? "true" : "false", oldSize, newSize, oldSchema->id, newSchema->id);
        for (size_t i = 0; i < changes.size(); ++i) {
            const Change& c = changes[i];
            const bool item = c.oldItem != nullptr || c.newItem != nullptr;
            std::printf("%s\n  {\"change\": \"%s\", \"path\": %s, \"old\": %s, \"new\": %s}",
                        i == 0 ? "" : ",", c.kind,
                        JsonString((c.old != nullptr ? c.old : c.now)->path).c_str(),
                        item ? ItemJson(c.oldItem).c_str()
                        : c.old != nullptr ? FieldJson(*c.old).c_str()
                                           : "null",
                        item ? ItemJson(c.newItem).c_str()
                        : c.now != nullptr ? FieldJson(*c.now).c_str()
                                           : "null");
        }
        std::printf("%s]}\n", changes.empty() ? "" : "\n");
    } else {
        for (const Change& c : changes) std::printf("%s\n", ChangeText(c).c_str());
        if (oldSize != newSize) std::printf("size    %d -> %d\n", oldSize, newSize);
        if (oldSchema->id != newSchema->id)
            std::printf("id      %d -> %d\n", oldSchema->id, newSchema->id);
        std::printf("%s\n", compatible ? "compatible" : "incompatible");
    }
    return compatible ? kExitOk : kExitInput;
}

}  // namespace morvane
