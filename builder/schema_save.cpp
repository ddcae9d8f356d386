#include "builder/schema_save.h"

#include <sys/stat.h>

#include <cerrno>

#include "builder/builder_messages.h"
#include "builder/edit_model.h"
#include "builder/schema_file_writer.h"
#include "builder/user_dialogs.h"
#include "generate/generators.h"
#include "logging/log.h"
#include "schema/schema.h"
#include "server/config/configuration.h"

namespace morvane {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The field checks of the Name and Id texts; empty when both are usable.
std::string CheckNameAndId(std::string_view name, std::string_view id) {
    if (name.size() >= kNameWidth) return msg::SizeOfField(kNameWidth);
    if (name.find('/') != std::string_view::npos)
        return "Error! name of schema must not contain \"/\": it names the schema file";
    if (id.size() >= kSchemaIdWidth) return msg::SizeOfField(kSchemaIdWidth);
    return {};
}

}  // namespace

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
    if (refusal.empty()) refusal = CheckComments(model);
    if (!refusal.empty()) {
        dialogs.Message(refusal);
        return SaveOutcome::kRefused;
    }

    if (model.configuration() == nullptr) {
        dialogs.Message("Error! No configuration is read: the schema cannot be saved");
        return SaveOutcome::kNotWritten;
    }
    const Configuration& config = *model.configuration();
    const std::string& directory = config.schemasDirectory;
    if (!Exists(directory) && mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
        dialogs.Message(msg::Format("Error! Directory %s cannot be created", directory.c_str()));
        return SaveOutcome::kNotWritten;
    }
    std::string path = directory + "/" + std::string(nameField) + ".xsd";
    if (Exists(path)) {
        if (!dialogs.AskYesNo(msg::kFileExists)) return SaveOutcome::kDeclined;
        path = dialogs.ChangeFileName(path);
    }
    if (!FixedText<kPathWidth>::Fits(path)) {
        dialogs.Message(msg::SizeOfField(kPathWidth) + msg::Format("\n%s", path.c_str()));
        return SaveOutcome::kRefused;
    }

    std::string error;
    if (!WriteSchemaFile(model, nameField, idField, path, error)) {
        dialogs.Message(error);
        return SaveOutcome::kNotWritten;
    }

    pugi::xml_document doc;
    if (!LoadXmlDocument(path.c_str(), doc, error)) {
        LogLine(true, msg::kReadErrorLog, path.c_str(), error.c_str());
        dialogs.Message(msg::Format("The schema was saved in %s but could not be compiled: it "
                                    "cannot be read back [%s]",
                                    path.c_str(), error.c_str()));
        return SaveOutcome::kUnreadable;
    }
    Schema schema;
    if (!LoadSchema(schema, doc)) {
        dialogs.Message(msg::Format(
            "The schema was saved in %s but could not be compiled; the parser's lines in "
            "Morvane.log give the reason (they are written when LogFlag is on). No header or "
            "empty XML file was generated.",
            path.c_str()));
        return SaveOutcome::kNotCompiled;
    }
    // Its failures are logged by the generators; the user is not told.
    GenerateSchemaFiles(schema, config.resultsEmptyXmlDirectory.c_str(),
                        config.resultsIncludeDirectory.c_str());

    dialogs.Message(msg::kSaved);
    model.newSchema = false;
    return SaveOutcome::kSaved;
}

}  // namespace morvane
