// check and generate: a set of schema files loaded together, their errors
// and the warnings about what loads but will hurt, and the generated files.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "generate/file_set.h"
#include "generate/generators.h"
#include "generate/output_files.h"
#include "morvanec/commands.h"
#include "morvanec/diagnostics.h"
#include "morvanec/schema_file.h"
#include "schema/name_check.h"
#include "schema/schema.h"

namespace morvane {
namespace {

// A C identifier, neither a keyword nor reserved; "bool" is kept out too, as
// the headers' readers may include <stdbool.h>.
bool IsCIdentifier(const char* name) {
    return morvane::IsCIdentifier(name) && std::strcmp(name, "bool") != 0;
}

// Every name attribute of the document becomes a name in the C header: of
// the record, a template, an enumeration, an enumerator or a member. Names
// the header cannot compile with are errors of the load; these are the
// ones it compiles with all the same (a text member's, which stands in a
// comment, and names reserved in C).
void WarnNames(const std::string& path, const pugi::xml_document& doc, Diagnostics& diagnostics) {
    pugi::xml_node node = doc.document_element();
    while (node) {
        if (node.type() == pugi::node_element) {
            pugi::xml_attribute name = node.attribute("name");
            if (name && !IsCIdentifier(name.value())) {
                diagnostics.WarningAt(
                    path, node.offset_debug(),
                    std::string("name \"") + name.value() + "\" is not a C identifier");
            }
        }
        if (pugi::xml_node child = node.first_child()) {
            node = child;
            continue;
        }
        while (node && !node.next_sibling()) node = node.parent();
        if (node) node = node.next_sibling();
    }
}

// A collapsed member (visibility="0", repeated) is one empty element in XML
// data files: its bytes do not reach them. Natural for a char array kept
// out of sight; for numbers, a note says so.
void NoteCollapsed(const std::string& path, const pugi::xml_document& doc,
                   Diagnostics& diagnostics) {
    for (pugi::xpath_node found : doc.select_nodes("//*[@visibility='0']")) {
        pugi::xml_node node = found.node();
        const int reps = node.attribute("nrepetitions").as_int(1);
        const std::string type = node.attribute("type").value();
        if (reps == 1 || type == "char") continue;
        diagnostics.NoteAt(path, node.offset_debug(),
                           "member " + std::string(node.attribute("name").value()) + " (" + type +
                               "[" + std::to_string(reps) +
                               "]) is collapsed: XML data files do not carry its values; to-json "
                               "and from-json do");
    }
}

// A template's enumeration: the schema loads, but its header cannot be
// generated (a template block declares no enumeration). An error here, so
// that check says what generate would meet.
void RefuseTemplateEnums(const std::string& path, const Schema& schema,
                         const pugi::xml_document& doc, Diagnostics& diagnostics) {
    const CStructure* top = schema.Top();
    if (top == nullptr) return;
    for (const auto& t : top->units) {
        if (t->type != kTypeTemplate) continue;
        for (const auto& m : t->AsStructure()->units) {
            if (m->type != kTypeEnum) continue;
            // Names hold no quotes: they are refused at load.
            pugi::xml_node node =
                doc.select_node(("//*[@name='" + t->name + "']/*[@name='" + m->name + "']").c_str())
                    .node();
            diagnostics.ErrorAt(path, node ? node.offset_debug() : 0,
                                "enumeration " + m->name + " is declared inside template " +
                                    t->name +
                                    ": its C header cannot be generated; declare it beside the "
                                    "templates");
        }
    }
}

// The schemas of one command line, loaded in order.
struct SchemaSet {
    std::vector<std::unique_ptr<Schema>> schemas;
    std::vector<std::string> paths;
};

// Loads every file; reports errors and warnings. False when any file has an
// error (set then holds the schemas that loaded). headerChecks: the names
// of the header checks must be free too.
bool LoadSet(const std::vector<std::string>& files, Diagnostics& diagnostics, SchemaSet& set,
             bool headerChecks = false) {
    std::map<int32_t, size_t> byId;
    std::map<std::string, size_t> byFileName;
    for (const std::string& path : files) {
        pugi::xml_document doc;
        std::unique_ptr<Schema> schema = LoadSchemaFile(path, diagnostics, doc, headerChecks);
        if (schema == nullptr) continue;
        WarnNames(path, doc, diagnostics);
        NoteCollapsed(path, doc, diagnostics);
        RefuseTemplateEnums(path, *schema, doc, diagnostics);
        std::ptrdiff_t root = doc.document_element().offset_debug();
        const size_t index = set.schemas.size();
        auto id = byId.emplace(schema->id, index);
        if (!id.second) {
            const size_t first = id.first->second;
            diagnostics.WarningAt(path, root,
                                  "schema id " + std::to_string(schema->id) +
                                      " is also the id of " + set.schemas[first]->name + " (" +
                                      set.paths[first] + ")");
        }
        auto name = byFileName.emplace(ToLower(schema->name), index);
        if (!name.second) {
            const size_t first = name.first->second;
            // Morvane refuses such a set at load: both would write the same
            // files and one enumerator of Schema_Enum.h twice.
            diagnostics.ErrorAt(path, root,
                                "schema name " + schema->name + " differs from " +
                                    set.schemas[first]->name + " (" + set.paths[first] +
                                    ") only in letter case: both generate " +
                                    ToLower(schema->name) + ".h, " + ToLower(schema->name) +
                                    ".xml and E_SCHEMA_ENUM_" + ToUpper(schema->name));
            continue;
        }
        set.schemas.push_back(std::move(schema));
        set.paths.push_back(path);
    }
    return diagnostics.errors() == 0;
}

// A directory under the system's temporary directory, removed with its
// files when the object goes.
class StagingDir {
  public:
    StagingDir() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/morvanec.XXXXXX";
        if (mkdtemp(path_.data()) == nullptr) path_.clear();
    }
    ~StagingDir() {
        for (const std::string& name : Files()) unlink((path_ + "/" + name).c_str());
        if (!path_.empty()) rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

    // The names of the files in it, sorted.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        if (DIR* dir = path_.empty() ? nullptr : opendir(path_.c_str())) {
            while (dirent* entry = readdir(dir)) {
                if (entry->d_name[0] != '.') names.push_back(entry->d_name);
            }
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

bool ReadWhole(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return static_cast<bool>(in);
}

}  // namespace

int RunCheck(const Invocation& call) {
    Diagnostics diagnostics;
    SchemaSet set;
    return LoadSet(call.args, diagnostics, set) ? kExitOk : kExitInput;
}

int RunGenerate(const Invocation& call) {
    Diagnostics diagnostics;
    SchemaSet set;
    if (!LoadSet(call.args, diagnostics, set, call.checks)) return kExitInput;

    // Everything is generated into a staging directory first, so that a
    // schema that fails half-way leaves no file of the set behind.
    const std::string dir = call.output.empty() ? "." : call.output;
    StagingDir stage;
    if (stage.path().empty()) {
        diagnostics.Error(
            dir, 0, 0, std::string("cannot create a staging directory: ") + std::strerror(errno));
        return kExitInput;
    }
    std::vector<Schema*> schemas;
    for (size_t i = 0; i < set.schemas.size(); ++i) {
        if (!GenerateSchemaFiles(*set.schemas[i], stage.path().c_str(), stage.path().c_str(),
                                 call.checks)) {
            std::string why = TakeLogged();
            diagnostics.Error(set.paths[i], 0, 0,
                              "cannot generate the files of " + set.schemas[i]->name +
                                  (why.empty() ? "" : ": " + why));
            return kExitInput;
        }
        schemas.push_back(set.schemas[i].get());
    }
    if (!CreateSchemaEnumIncludeFile(schemas, stage.path().c_str())) {
        std::string why = TakeLogged();
        diagnostics.Error(dir, 0, 0,
                          "cannot generate Schema_Enum.h" + (why.empty() ? "" : ": " + why));
        return kExitInput;
    }
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        diagnostics.Error(dir, 0, 0,
                          std::string("cannot create the directory: ") + std::strerror(errno));
        return kExitInput;
    }
    // The set is all or nothing: every file is staged beside its target
    // first, and only then are they renamed into place.
    FileSet files(LinkPolicy::kReplaceLink);
    for (const std::string& name : stage.Files()) {
        // The value-name log needs the logger library; it is not written.
        if (name.ends_with(".log")) continue;
        std::string content;
        if (!ReadWhole(stage.path() + "/" + name, content)) {
            diagnostics.Error(stage.path() + "/" + name, 0, 0, "cannot read the generated file");
            return kExitInput;
        }
        if (!files.Add(dir + "/" + name, content)) break;
    }
    if (files.failure().kind == ReplaceFailure::kNone) files.Commit();
    if (files.failure().kind != ReplaceFailure::kNone) {
        TakeLogged();  // the generators' banners say nothing about this
        diagnostics.Error(files.failure().path, 0, 0,
                          std::string("cannot be written: ") + std::strerror(files.failure().error) +
                              " (no file of the set was changed)");
        return kExitInput;
    }
    return kExitOk;
}

}  // namespace morvane
