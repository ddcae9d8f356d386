// CreateIncludeFile: the C header of one schema.
//
// Layout of the file:
//   #ifndef __NAME__ / #define __NAME__ / // id=N / #pragma pack(push, 1)
//   one block per template and enumeration, in the top structure's member
//   order (member structures are visited at their place in that order)
//   the record's typedef struct
//   #pragma pack(pop) / #endif //__NAME__
// A structure member with members of its own besides its template's has a
// type of its own, OWNER_MEMBER, declared just before the block that holds
// it: the template's members, then its own.
//
// With header checks, after the closing line:
//   #define NAME_SIZE <record size>
//   #define NAME_FINGERPRINT <layout fingerprint>ULL
//   #ifdef MORVANE_LAYOUT_CHECKS
//   #include <stddef.h>, NAME_LAYOUT_ASSERT as static_assert (C++) or
//   _Static_assert (C), one assertion on the sizeof of every type declared
//   and on the offsetof and sizeof of every member of every block, then
//   #undef NAME_LAYOUT_ASSERT / #endif
#include <charconv>
#include <cstdarg>
#include <string>
#include <memory>
#include <vector>

#include "generate/output_files.h"
#include "generate/generators.h"
#include "logging/log.h"
#include "schema/fingerprint.h"
#include "schema/name_check.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// The state of this thread's run in progress, shared by the recursive walk. Reset
// by IncludeRunScope when the run ends, aborted or not.
struct IncludeRun {
    std::string text;      // the header, written whole at the end of the run
    std::string guard;     // upper-case top structure name, for the closing line
    std::string typeWord;  // scratch: the type written in front of a member name
    // The blocks and type names of the schema being written.
    std::unique_ptr<HeaderShape> shape;
    // The typedefs written so far, for the header checks: each struct's
    // type name with its member lines, each enumeration's type name.
    struct Block {
        std::string type;
        int32_t size;
        std::vector<const Unit*> members;
    };
    std::vector<Block> structs;
    std::vector<std::string> enums;
};
thread_local IncludeRun g_run;

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

// text with every "*/" and "/*" split by a blank, so that it can stand
// inside a C comment without ending it or opening a nested one.
std::string CommentSafe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (!out.empty() && ((out.back() == '*' && c == '/') || (out.back() == '/' && c == '*'))) {
            out += ' ';
        }
        out += c;
    }
    return out;
}

void WriteComment(const Unit& unit) {
    if (unit.comment.empty()) return;
    Out("/*\n");
    Out("%s\n", CommentSafe(unit.comment).c_str());
    Out("*/\n");
}

std::vector<const Unit*> BlockMembers(const CStructure& s) { return g_run.shape->BlockMembers(s); }
bool HasMembersOfItsOwn(const Unit& member) { return g_run.shape->HasMembersOfItsOwn(member); }
std::string TypeName(const CStructure& s) { return HeaderShape::TypeName(s); }

// Sets g_run.typeWord for a member of a template or of the record. False
// when the member's type has no C declaration: the run aborts.
bool MakeTypeWord(const Unit& member) {
    if (member.type == kTypeStructure) {
        const CStructure* s = member.AsStructure();
        if (HasMembersOfItsOwn(member)) {
            g_run.typeWord = TypeName(*s);
        } else {
            g_run.typeWord = ToUpper(s != nullptr ? s->templateName : std::string());
        }
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
    return false;
}

// indent: three spaces in template blocks, four in the record block. A
// bool takes 4 bytes, the size of an int, and a text member none: it is
// shown as a comment, so that the struct keeps the record's layout.
bool WriteMemberLine(const Unit& member, const char* indent) {
    WriteComment(member);
    if (!MakeTypeWord(member)) return false;
    // "%s%s;\n" (indent, declaration) put straight into the text: through
    // the formatter this line was most of the time of a header.
    std::string& out = g_run.text;
    const size_t start = out.size();
    out += indent;
    const size_t declarationStart = out.size();
    out += g_run.typeWord;
    out += ' ';
    out += member.name;
    if (member.nrepetitions != 1) {
        char digits[16];
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, member.nrepetitions);
        (void)ec;
        out += '[';
        out.append(digits, static_cast<size_t>(end - digits));
        out += ']';
    }
    if (member.type == kTypeText) {
        // "%s/* %s; */\n"
        const std::string declaration = CommentSafe(out.substr(declarationStart));
        out.resize(start);
        Out("%s/* %s; */\n", indent, declaration.c_str());
    } else {
        out += member.type == kTypeBool ? "; /* bool */\n" : ";\n";
    }
    return true;
}

bool WriteOwnTypes(const CStructure& s, const std::vector<const Unit*>& members);

// The typedef struct of s, a template, the record or a structure member with
// members of its own, preceded by the types of those of its members declared
// in it that have members of their own. indent: three spaces in template
// blocks (own types included), four in the record block. A structure
// member's comment stays with its member line. False when the run must
// abort.
bool WriteStructBlock(const CStructure& s, const char* indent) {
    const std::vector<const Unit*> members = BlockMembers(s);
    if (!WriteOwnTypes(s, members)) return false;
    Out("//--- size of structure = %d\n", s.size);
    if (s.templateName.empty()) WriteComment(s);
    Out("typedef struct\n");
    Out("{\n");
    for (const Unit* m : members) {
        if (m->type == kTypeEnum && s.type == kTypeTemplate) {
            Trace("error! ENUM inside TEMPLATE\n");
            return false;
        }
        if (!m->IsLayoutMember()) continue;
        if (!WriteMemberLine(*m, indent)) return false;
    }
    Out("} %s;\n\n", TypeName(s).c_str());
    g_run.structs.push_back({TypeName(s), s.size, members});
    return true;
}

// The own types of s's members; those that come from s's template have
// theirs before the template's block already.
bool WriteOwnTypes(const CStructure& s, const std::vector<const Unit*>& members) {
    for (const Unit* m : members) {
        if (!HasMembersOfItsOwn(*m)) continue;
        const CStructure& own = *m->AsStructure();
        if (own.parent == &s && !WriteStructBlock(own, "   ")) return false;
    }
    return true;
}

// An enumeration without items has no enumerator to declare, and C
// accepts no empty enum: it is declared as an int, the 4 bytes of its
// members. An enumeration copied into a template instance is a plain unit
// without items.
void WriteEnumBlock(const Unit& e) {
    WriteComment(e);
    const EnumUnit* en = e.AsEnum();
    g_run.enums.push_back(ToUpper(e.name));
    if (en == nullptr || en->items.empty()) {
        Out("typedef int %s; /* enum without items */\n\n", ToUpper(e.name).c_str());
        return;
    }
    Out("typedef enum\n");
    Out("{\n");
    for (size_t i = 0; i < en->items.size(); ++i) {
        const EnumItem& item = en->items[i];
        Out(i + 1 < en->items.size() ? "   %s=%d,\n" : "   %s=%d\n", item.name.c_str(), item.id);
    }
    Out("} %s;\n\n", ToUpper(e.name).c_str());
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
                if (const CStructure* t = m->AsStructure())
                    if (!WriteStructBlock(*t, "   ")) return false;
                break;
            case kTypeEnum:
                WriteEnumBlock(*m);
                break;
            default:
                break;
        }
    }
    if (u.parent != nullptr || schema.IsRoot(&u)) return true;
    return WriteStructBlock(u, "    ");
}

// The macros and assertions of the header checks, after the closing line.
void WriteChecks(const Schema& schema) {
    const std::string& name = g_run.guard;
    const std::string assertion = name + "_LAYOUT_ASSERT";
    Out("\n#define %s_SIZE %d\n", name.c_str(), schema.Size());
    Out("#define %s_FINGERPRINT %sULL\n\n", name.c_str(),
        FingerprintText(LayoutFingerprint(schema)).c_str());
    Out("#ifdef MORVANE_LAYOUT_CHECKS\n");
    Out("#include <stddef.h>\n");
    Out("#ifdef __cplusplus\n#define %s static_assert\n", assertion.c_str());
    Out("#else\n#define %s _Static_assert\n#endif\n", assertion.c_str());
    for (const std::string& e : g_run.enums)
        Out("%s(sizeof(%s) == 4, \"%s: size\");\n", assertion.c_str(), e.c_str(), e.c_str());
    for (const IncludeRun::Block& b : g_run.structs) {
        // The record's own size is the macro's, so that a program can
        // compare it with the server's.
        if (b.type == name)
            Out("%s(sizeof(%s) == %s_SIZE, \"%s: size\");\n", assertion.c_str(), name.c_str(),
                name.c_str(), name.c_str());
        else
            Out("%s(sizeof(%s) == %d, \"%s: size\");\n", assertion.c_str(), b.type.c_str(),
                b.size, b.type.c_str());
        for (const Unit* m : b.members) {
            if (!m->IsLayoutMember() || m->type == kTypeText) continue;
            Out("%s(offsetof(%s, %s) == %d, \"%s.%s: offset\");\n", assertion.c_str(),
                b.type.c_str(), m->name.c_str(), m->offset, b.type.c_str(), m->name.c_str());
            Out("%s(sizeof(((%s*)0)->%s) == %lld, \"%s.%s: size\");\n", assertion.c_str(),
                b.type.c_str(), m->name.c_str(),
                static_cast<long long>(m->size) * m->nrepetitions, b.type.c_str(),
                m->name.c_str());
        }
    }
    Out("#undef %s\n", assertion.c_str());
    Out("#endif /* MORVANE_LAYOUT_CHECKS */\n");
}

}  // namespace

bool CreateIncludeFile(const Schema& schema, const char* directory, bool checks) {
    const CStructure* root = schema.root.get();
    if (root == nullptr || root->units.empty()) return false;
    const std::string& name = root->units.front()->name;
    std::string path;
    if (!GeneratedFilePath("CreateIncludeFile", directory, name, ".h", true, path)) return false;

    IncludeRunScope scope;
    g_run.text.reserve(16 * 1024);
    g_run.guard = ToUpper(name);
    g_run.shape = std::make_unique<HeaderShape>(schema);
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
        if (checks) WriteChecks(schema);
    }
    return WriteGeneratedFile("CreateIncludeFile", path, g_run.text) && whole;
}

}  // namespace morvane
