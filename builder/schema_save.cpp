#include "builder/schema_save.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/schema_check.h"
#include "builder/schema_file_loader.h"
#include "builder/schema_file_writer.h"
#include "builder/user_dialogs.h"
#include "generate/file_set.h"
#include "generate/generators.h"
#include "generate/output_files.h"
#include "logging/log.h"
#include "schema/name_check.h"
#include "schema/schema.h"
#include "server/config/configuration.h"
#include "server/startup.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The field checks of the Name and Id texts; empty when both are usable.
std::string CheckNameAndId(std::string_view name, std::string_view id) {
    if (name.size() >= kNameWidth)
        return msg::SizeOfField(kNameWidth, "\"Name:\" of the schema", name) +
               ". The schema is not saved.";
    if (id.size() >= kSchemaIdWidth)
        return msg::SizeOfField(kSchemaIdWidth, "\"Id:\" of the schema", id) +
               ". The schema is not saved.";
    return {};
}

std::string NotSaved(const std::string& path, const std::string& why) {
    return msg::Format("Error! The schema was not saved in %s: %s", path.c_str(), why.c_str());
}

// 1-based line and column of byte offset in text.
void LineColumnIn(std::string_view text, std::ptrdiff_t offset, int& line, int& column) {
    line = 1;
    column = 1;
    for (std::ptrdiff_t i = 0; i < offset && static_cast<size_t>(i) < text.size(); ++i) {
        if (text[static_cast<size_t>(i)] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
}

// LoadSchema() on the schema file text, parsed as Morvane parses files,
// with the parser's reasons for a failure in reason, each with its line and
// column in text. The parser's own log lines are written as ever.
bool CompileSchema(Schema& schema, const std::string& text, std::string& reason,
                   SaveOutcome& outcome) {
    outcome = SaveOutcome::kUnreadable;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(
        text.data(), text.size(), pugi::parse_default | pugi::parse_comments);
    if (!parsed) {
        reason = std::string("it cannot be read back [") + parsed.description() + "]";
        return false;
    }
    outcome = SaveOutcome::kNotCompiled;
    std::vector<SchemaDiagnostic> diagnostics;
    const bool ok = LoadSchema(schema, doc, &diagnostics);
    for (const SchemaDiagnostic& d : diagnostics) {
        reason += (reason.empty() ? "" : "; ") + d.text;
        int line = 0;
        int column = 0;
        if (d.offset >= 0) {
            LineColumnIn(text, d.offset, line, column);
            reason += msg::Format(" (line %d, column %d)", line, column);
        }
    }
    if (reason.empty()) reason = "the parser refuses it";
    if (!ok) reason = "it does not compile: " + reason;
    return ok;
}

// Puts the schema file at path (through its links, its mode kept) and
// everything generated from it in place, all or nothing: every file is
// staged first and only then renamed into place, and a failure part way
// restores the files already replaced. Empty when all succeeded;
// otherwise why not, naming the file and the system's reason, with
// outcome set.
std::string WriteAll(const CEditModel& model, std::string_view name, std::string_view id,
                     const std::string& path, SaveOutcome& outcome) {
    const Configuration& config = *model.configuration();
    const std::string text = SchemaFileText(model, name, id);
    std::string why;
    Schema schema;
    if (!CompileSchema(schema, text, why, outcome)) return why;
    // What the header needs beyond what the parser checks: names unique
    // where C wants them so, and none that C reserves.
    const std::vector<NameProblem> problems =
        CheckSchemaNames(schema, NameCheckOptions{config.headerChecks != 0});
    if (!problems.empty()) {
        outcome = SaveOutcome::kRefused;
        return problems.front().text.substr(std::string_view("Error! ").size()) +
               " (its C header would not compile)";
    }
    FileSet files(LinkPolicy::kReplaceTarget);
    if (!files.Add(path, text)) {
        outcome = SaveOutcome::kNotWritten;
        return "it cannot be written [" + files.Reason() + "]";
    }
    bool generated = false;
    {
        StagedOutput staged(files);
        generated = GenerateSchemaFiles(schema, config.resultsEmptyXmlDirectory.c_str(),
                                        config.resultsIncludeDirectory.c_str(),
                                        config.headerChecks != 0);
    }
    if (!generated) {
        outcome = SaveOutcome::kNotGenerated;
        return "its empty XML data file or C header could not be written" +
               (files.failure().kind != ReplaceFailure::kNone ? " [" + files.Reason() + "]"
                                                              : std::string(" (see Morvane.log)"));
    }
    if (!files.Commit()) {
        outcome = SaveOutcome::kNotWritten;
        return "nothing was replaced: " + files.Reason();
    }
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa;
    struct stat sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return a == b;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// An id as the parser reads it: leading blanks, a sign, digits.
long long IdValue(const char* text) { return std::strtoll(text, nullptr, 10); }

struct OtherSchema {
    std::string path;
    std::string name;
    std::string id;
};

// The schemas of the files of directory but except, by their roots' name
// and id; files that cannot be read or lack either are passed over.
std::vector<OtherSchema> OtherSchemas(const std::string& directory, const std::string& except) {
    std::vector<OtherSchema> others;
    for (const std::string& file : ListSchemaFiles(directory)) {
        const std::string path = directory + "/" + file;
        if (!except.empty() && SameFile(path, except)) continue;
        pugi::xml_document doc;
        std::string error;
        if (!LoadXmlDocument(path.c_str(), doc, error)) continue;
        pugi::xml_node root = doc.document_element();
        if (!root.attribute("name") || !root.attribute("id")) continue;
        others.push_back({path, root.attribute("name").value(), root.attribute("id").value()});
    }
    return others;
}

// Refuses a name or id that another schema file of directory uses: two
// schemas of one name share their generated files and Schema_Enum.h
// enumerator, two of one id make the look-up by id ambiguous.
std::string CheckUnique(const std::string& directory, const std::string& path,
                        std::string_view name, std::string_view id) {
    const long long value = IdValue(std::string(id).c_str());
    for (const OtherSchema& other : OtherSchemas(directory, path)) {
        if (UpperCase(other.name) == UpperCase(name))
            return msg::Format(
                "Error! Schema name \"%.*s\" is already used by %s (schema \"%s\"). The schema "
                "is not saved.",
                static_cast<int>(name.size()), name.data(), other.path.c_str(),
                other.name.c_str());
        if (IdValue(other.id.c_str()) == value)
            return msg::Format(
                "Error! Schema id %lld is already used by %s (schema \"%s\"). The schema is not "
                "saved.",
                value, other.path.c_str(), other.name.c_str());
    }
    return {};
}

// The file the model came from when it came from exactly one and that
// lies in directory (where every save goes); empty otherwise.
std::string SourceOf(const CEditModel& model, const std::string& directory) {
    if (model.sources.size() != 1) return {};
    const std::string& path = model.sources.front().path;
    std::error_code ec;
    const fs::path parent = fs::weakly_canonical(fs::path(path).parent_path(), ec);
    const fs::path root = fs::weakly_canonical(directory, ec);
    return !ec && parent == root ? path : std::string();
}

// Where the save goes. A model from one file is written back to it without
// a question; otherwise <name>.xsd in directory, and when that exists (or
// the model holds several files) only under a name chosen in Change File
// Name, which asks again before it replaces another existing file.
// kSaved with path set, or the outcome that ends the save (shown).
SaveOutcome ChooseTarget(const CEditModel& model, const std::string& directory,
                         std::string_view nameField, CUserDialogs& dialogs, std::string& path) {
    const std::string source = SourceOf(model, directory);
    if (!source.empty()) {
        path = source;
        // Another program may have written it since: its work is not lost
        // without a question.
        std::string now;
        if (ReadWholeFile(path, now) && now != model.sources.front().content &&
            !dialogs.AskYesNo(msg::Format(msg::kChangedOnDisk, path.c_str())))
            return SaveOutcome::kDeclined;
        return SaveOutcome::kSaved;
    }
    path = directory + "/" + std::string(nameField) + ".xsd";
    if (model.sources.size() < 2) {
        if (!Exists(path)) return SaveOutcome::kSaved;
        if (!dialogs.AskYesNo(msg::kFileExists)) return SaveOutcome::kDeclined;
    }
    std::string typed;
    if (!dialogs.ChangeFileName(path, typed)) return SaveOutcome::kDeclined;
    std::string error;
    if (!ResolveSchemaPath(directory, typed, path, error)) {
        dialogs.Message(error);
        return SaveOutcome::kRefused;
    }
    if (Exists(path) && !dialogs.AskYesNo(msg::Format(msg::kReplaceOther, path.c_str())))
        return SaveOutcome::kDeclined;
    return SaveOutcome::kSaved;
}

}  // namespace

int SmallestFreeSchemaId(const std::string& directory) {
    std::vector<long long> used;
    for (const OtherSchema& other : OtherSchemas(directory, {})) used.push_back(IdValue(other.id.c_str()));
    int id = 1;
    while (std::find(used.begin(), used.end(), id) != used.end()) ++id;
    return id;
}

bool ResolveSchemaPath(const std::string& directory, const std::string& text, std::string& path,
                       std::string& error) {
    std::error_code ec;
    const fs::path root = fs::canonical(directory, ec);
    fs::path candidate = fs::path(directory) / text;  // an absolute text replaces directory
    std::string file = candidate.filename().string();
    if (text.empty() || file.empty() || file == "." || file == "..") {
        error = msg::Format("Error! \"%s\" names no file. The schema is not saved.", text.c_str());
        return false;
    }
    const std::string extension = ".xsd";
    if (file.size() <= extension.size() ||
        file.compare(file.size() - extension.size(), extension.size(), extension) != 0)
        file += extension;
    const fs::path parent = fs::canonical(candidate.parent_path(), ec);
    if (ec || root.empty() || parent != root) {
        error =
            msg::Format("Error! %s is not in the Schemas directory %s. The schema is not saved.",
                        text.c_str(), root.empty() ? directory.c_str() : root.c_str());
        return false;
    }
    path = (root / file).string();
    return true;
}

SaveOutcome SaveSchema(CEditModel& model, std::string_view nameField, std::string_view idField,
                       CUserDialogs& dialogs) {
    if (model.CurrentSchema() == nullptr) {
        dialogs.Message(msg::kNoSchema);
        return SaveOutcome::kNoSchema;
    }
    if (nameField.empty()) {
        dialogs.Message(msg::kSchemaNameEmpty);
        return SaveOutcome::kNameEmpty;
    }
    std::string refusal = CheckNameAndId(nameField, idField);
    if (refusal.empty()) refusal = CheckForSave(model, nameField, idField);
    if (refusal.empty()) refusal = CheckComments(model);
    if (!refusal.empty()) {
        dialogs.Message(refusal);
        return SaveOutcome::kRefused;
    }

    if (model.configuration() == nullptr) {
        dialogs.Message("Error! No configuration is read: the schema cannot be saved");
        return SaveOutcome::kNotWritten;
    }
    const std::string& directory = model.configuration()->schemasDirectory;
    if (!Exists(directory) && mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
        dialogs.Message(msg::Format("Error! Directory %s cannot be created: %s", directory.c_str(),
                                    std::strerror(errno)));
        return SaveOutcome::kNotWritten;
    }
    std::string path;
    const SaveOutcome chosen = ChooseTarget(model, directory, nameField, dialogs, path);
    if (chosen != SaveOutcome::kSaved) return chosen;
    refusal = CheckUnique(directory, path, nameField, idField);
    if (!refusal.empty()) {
        dialogs.Message(refusal);
        return SaveOutcome::kRefused;
    }
    if (!model.notKept.empty()) {
        std::string question = "The loaded file holds what the editor cannot write back:";
        for (const std::string& line : model.notKept) question += "\n- " + line;
        question += "\nDo you want to save without it?";
        if (!dialogs.AskYesNo(question)) return SaveOutcome::kDeclined;
    }
    if (!FixedText<kPathWidth>::Fits(path)) {
        dialogs.Message(msg::SizeOfField(kPathWidth, "The path " + path, path) +
                        ". The schema is not saved.");
        return SaveOutcome::kRefused;
    }

    SaveOutcome outcome = SaveOutcome::kSaved;
    const std::string why = WriteAll(model, nameField, idField, path, outcome);
    if (!why.empty()) {
        dialogs.Message(NotSaved(path, why));
        return outcome;
    }

    dialogs.Message(msg::kSaved);
    model.newSchema = false;
    model.MarkSaved();
    // The next save goes to the same file, and knows its bytes.
    CEditModel::SourceFile saved{path, {}};
    ReadWholeFile(path, saved.content);
    model.sources = {std::move(saved)};
    return SaveOutcome::kSaved;
}

}  // namespace morvane
