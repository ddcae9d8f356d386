// CreateIncludeFile: the C header of one schema.
//
// Layout of the file:
//   #ifndef __NAME__ / #define __NAME__ / // id=N / #pragma pack(push, 1)
//   one block per template and enumeration, in the top structure's member
//   order (member structures are visited at their place in that order)
//   the record's typedef struct
//   #pragma pack(pop) / #endif //__NAME__
#include <cstdarg>
#include <string>

#include "generate/output_files.h"
#include "generate/generators.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// The state of the one run in progress, shared by the recursive walk. Reset
// by IncludeRunScope when the run ends, aborted or not.
struct IncludeRun {
    std::string text;      // the header, written whole at the end of the run
    std::string guard;     // upper-case top structure name, for the closing line
    std::string typeWord;  // scratch: the type written in front of a member name
};
IncludeRun g_run;

class IncludeRunScope {
  public:
    IncludeRunScope() = default;
    ~IncludeRunScope() { g_run = IncludeRun{}; }
    IncludeRunScope(const IncludeRunScope&) = delete;
    IncludeRunScope& operator=(const IncludeRunScope&) = delete;
};

void Out(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(g_run.text, format, args);
    va_end(args);
}

void WriteComment(const Unit& unit) {
    if (unit.comment.empty()) return;
    Out("/*\n");
    Out("%s\n", unit.comment.c_str());
    Out("*/\n");
}

// Sets g_run.typeWord for a member of a template or of the record. False
// when the member's type has no C declaration: the run aborts.
bool MakeTypeWord(const Unit& member) {
    if (member.type == kTypeStructure) {
        const CStructure* s = member.AsStructure();
        g_run.typeWord = ToUpper(s != nullptr ? s->templateName : std::string());
        return true;
    }
    if (member.type == kTypeItemEnum) {
        if (member.ref == nullptr) return false;
        g_run.typeWord = ToUpper(member.ref->name);
        return true;
    }
    if (IsPrimitive(member.type)) {
        g_run.typeWord = CTypeName(member.type);
        return true;
    }
    if (member.type == kTypeTemplate) Trace("error! TEMPLATE inside TEMPLATE\n");
    return false;
}

// indent: three spaces in template blocks, four in the record block.
bool WriteMemberLine(const Unit& member, const char* indent) {
    WriteComment(member);
    if (!MakeTypeWord(member)) return false;
    if (member.nrepetitions == 1)
        Out("%s%s %s;\n", indent, g_run.typeWord.c_str(), member.name.c_str());
    else
        Out("%s%s %s[%d];\n", indent, g_run.typeWord.c_str(), member.name.c_str(),
            member.nrepetitions);
    return true;
}

bool WriteTemplateBlock(const Unit& t) {
    Out("//--- size of structure = %d\n", t.size);
    WriteComment(t);
    Out("typedef struct\n");
    Out("{\n");
    if (const CStructure* s = t.AsStructure()) {
        for (const auto& m : s->units) {
            if (m->type == kTypeEnum) {
                Trace("error! ENUM inside TEMPLATE\n");
                return false;
            }
            if (!WriteMemberLine(*m, "   ")) return false;
        }
    }
    Out("} %s;\n\n", ToUpper(t.name).c_str());
    return true;
}

void WriteEnumBlock(const Unit& e) {
    WriteComment(e);
    Out("typedef enum\n");
    Out("{\n");
    // An enumeration copied into a template instance is a plain unit
    // without items.
    if (const EnumUnit* en = e.AsEnum()) {
        for (size_t i = 0; i < en->items.size(); ++i) {
            const EnumItem& item = en->items[i];
            Out(i + 1 < en->items.size() ? "   %s=%d,\n" : "   %s=%d\n", item.name.c_str(), item.id);
        }
    }
    Out("} %s;\n\n", ToUpper(e.name).c_str());
}

bool WriteRecordBlock(const CStructure& s) {
    Out("//--- size of structure = %d\n", s.size);
    WriteComment(s);
    Out("typedef struct\n");
    Out("{\n");
    for (const auto& m : s.units) {
        if (!m->IsLayoutMember()) continue;
        if (!WriteMemberLine(*m, "    ")) return false;
    }
    Out("} %s;\n\n", ToUpper(s.name).c_str());
    return true;
}

// One structure of the tree: its templates and enumerations, member
// structures at their place, then, for the top structure, the record. A
// member structure writes no typedef of its own: its shape is its
// template's. False when the run must abort.
bool WriteStructure(const Schema& schema, const CStructure& u) {
    if (u.units.empty()) return true;
    for (const auto& m : u.units) {
        switch (m->type) {
            case kTypeStructure:
                if (const CStructure* s = m->AsStructure())
                    if (!WriteStructure(schema, *s)) return false;
                break;
            case kTypeTemplate:
                if (!WriteTemplateBlock(*m)) return false;
                break;
            case kTypeEnum:
                WriteEnumBlock(*m);
                break;
            default:
                break;
        }
    }
    if (u.parent != nullptr || schema.IsRoot(&u)) return true;
    return WriteRecordBlock(u);
}

}  // namespace

bool CreateIncludeFile(const Schema& schema, const char* directory) {
    const CStructure* root = schema.root.get();
    if (root == nullptr || root->units.empty()) return false;
    const std::string& name = root->units.front()->name;
    std::string path;
    if (!GeneratedFilePath("CreateIncludeFile", directory, name, ".h", true, path)) return false;

    IncludeRunScope scope;
    g_run.text.reserve(16 * 1024);
    g_run.guard = ToUpper(name);
    Out("#ifndef __%s__\n", g_run.guard.c_str());
    Out("#define __%s__\n", g_run.guard.c_str());
    Out("// id=%d\n\n", schema.id);
    Out("#pragma pack(push, 1)\n\n");

    // An abort leaves the header cut off where it happened, without the
    // closing lines.
    const bool whole = WriteStructure(schema, *root);
    if (whole) {
        Out("#pragma pack(pop)\n\n");
        Out("#endif //__%s__\n", g_run.guard.c_str());
    }
    return WriteGeneratedFile("CreateIncludeFile", path, g_run.text) && whole;
}

}  // namespace morvane
