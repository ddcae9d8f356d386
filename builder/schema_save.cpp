#include "builder/schema_save.h"

#include <sys/stat.h>
#include <unistd.h>

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
#include "builder/schema_file_writer.h"
#include "builder/user_dialogs.h"
#include "generate/generators.h"
#include "logging/log.h"
#include "schema/name_check.h"
#include "schema/schema.h"
#include "server/config/configuration.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The field checks of the Name and Id texts; empty when both are usable.
std::string CheckNameAndId(std::string_view name, std::string_view id) {
    if (name.size() >= kNameWidth) return msg::SizeOfField(kNameWidth);
    if (id.size() >= kSchemaIdWidth) return msg::SizeOfField(kSchemaIdWidth);
    return {};
}

std::string NotSaved(const std::string& path, const std::string& why) {
    return msg::Format("Error! The schema was not saved in %s: %s", path.c_str(), why.c_str());
}

// LoadSchema() on the document read from path, with the parser's reasons for
// a failure in reason, each with the line and column of path where it is
// known. The parser's own log lines are written as ever.
bool CompileSchema(Schema& schema, const pugi::xml_document& doc, const std::string& path,
                   std::string& reason) {
    std::vector<SchemaDiagnostic> diagnostics;
    const bool ok = LoadSchema(schema, doc, &diagnostics);
    for (const SchemaDiagnostic& d : diagnostics) {
        reason += (reason.empty() ? "" : "; ") + d.text;
        int line = 0;
        int column = 0;
        if (LineColumnAt(path.c_str(), d.offset, line, column))
            reason += msg::Format(" (line %d, column %d)", line, column);
    }
    if (reason.empty()) reason = "the parser refuses it";
    return ok;
}

// A new empty file beside target, with the permissions a new file gets;
// empty on failure (errno set).
std::string MakeTemporary(const std::string& directory, const std::string& target) {
    std::string name = directory + "/." + fs::path(target).filename().string() + ".XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return {};
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return name;
}

// Writes, reads back, compiles and generates the file at temporary. Empty
// when all succeeded; otherwise why not, with outcome set.
std::string WriteAndCompile(const CEditModel& model, std::string_view name, std::string_view id,
                            const std::string& temporary, SaveOutcome& outcome) {
    const Configuration& config = *model.configuration();
    std::string error;
    if (!WriteSchemaFile(model, name, id, temporary, error)) {
        outcome = SaveOutcome::kNotWritten;
        return error;
    }
    pugi::xml_document doc;
    if (!LoadXmlDocument(temporary.c_str(), doc, error)) {
        LogLine(true, msg::kReadErrorLog, temporary.c_str(), error.c_str());
        outcome = SaveOutcome::kUnreadable;
        return "it cannot be read back [" + error + "]";
    }
    Schema schema;
    if (!CompileSchema(schema, doc, temporary, error)) {
        outcome = SaveOutcome::kNotCompiled;
        return "it does not compile: " + error;
    }
    // What the header needs beyond what the parser checks: names unique
    // where C wants them so, and none that C reserves.
    const std::vector<NameProblem> problems =
        CheckSchemaNames(schema, NameCheckOptions{config.headerChecks != 0});
    if (!problems.empty()) {
        outcome = SaveOutcome::kRefused;
        return problems.front().text.substr(std::string_view("Error! ").size()) +
               " (its C header would not compile)";
    }
    if (!GenerateSchemaFiles(schema, config.resultsEmptyXmlDirectory.c_str(),
                             config.resultsIncludeDirectory.c_str(), config.headerChecks != 0)) {
        outcome = SaveOutcome::kNotGenerated;
        return "its empty XML data file or C header could not be written (see Morvane.log)";
    }
    return {};
}

}  // namespace

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
        dialogs.Message(msg::Format("Error! Directory %s cannot be created", directory.c_str()));
        return SaveOutcome::kNotWritten;
    }
    std::string path = directory + "/" + std::string(nameField) + ".xsd";
    if (Exists(path)) {
        if (!dialogs.AskYesNo(msg::kFileExists)) return SaveOutcome::kDeclined;
        std::string error;
        if (!ResolveSchemaPath(directory, dialogs.ChangeFileName(path), path, error)) {
            dialogs.Message(error);
            return SaveOutcome::kRefused;
        }
    }
    if (!FixedText<kPathWidth>::Fits(path)) {
        dialogs.Message(msg::SizeOfField(kPathWidth) + msg::Format("\n%s", path.c_str()));
        return SaveOutcome::kRefused;
    }

    const std::string temporary = MakeTemporary(directory, path);
    if (temporary.empty()) {
        dialogs.Message(NotSaved(path, msg::Format("no temporary file can be made in %s [%s]",
                                                   directory.c_str(), std::strerror(errno))));
        return SaveOutcome::kNotWritten;
    }
    SaveOutcome outcome = SaveOutcome::kSaved;
    std::string why = WriteAndCompile(model, nameField, idField, temporary, outcome);
    if (why.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) {
        why = msg::Format("it cannot be renamed from %s [%s]", temporary.c_str(),
                          std::strerror(errno));
        outcome = SaveOutcome::kNotWritten;
    }
    if (!why.empty()) {
        std::remove(temporary.c_str());
        dialogs.Message(NotSaved(path, why));
        return outcome;
    }

    dialogs.Message(msg::kSaved);
    model.newSchema = false;
    model.MarkSaved();
    return SaveOutcome::kSaved;
}

}  // namespace morvane
