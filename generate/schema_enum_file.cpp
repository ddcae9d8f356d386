// CreateSchemaEnumIncludeFile: Schema_Enum.h, one enumerator per loaded
// schema, valued with its id, with the record size in a comment.
#include <algorithm>
#include <string>

#include "generate/output_files.h"
#include "generate/generators.h"
#include "logging/log.h"
#include "schema/schema.h"

namespace morvane {
namespace {

constexpr char kFileStem[] = "Schema_Enum";
constexpr char kEnumWord[] = "E_SCHEMA_ENUM";

// Replaces the file whole. A file that cannot be created or written logs
// the one failure line the file has, the old file staying as it was.
bool WriteSchemaEnumFile(const std::string& path, const std::string& text) {
    const ReplaceResult result = ReplaceFile(path, text);
    if (result.failure == ReplaceFailure::kNone) return true;
    LogLine(true, "CreateSchemaEnumIncludeFile [%s] [%s] is not opened\n", path.c_str(), "");
    return false;
}

}  // namespace

bool CreateSchemaEnumIncludeFile(std::vector<Schema*>& schemas, const char* includeDirectory) {
    LogLine(true, "\n=========Create SchemaEnumIncludeFile=======================\n");
    std::string path;
    GeneratedFilePath("CreateSchemaEnumIncludeFile", includeDirectory, kFileStem, ".h", false,
                      path);
    std::string text;
    AppendFormat(text, "#ifndef __%s__\n", kEnumWord);
    AppendFormat(text, "#define __%s__\n\n", kEnumWord);
    if (schemas.empty()) {
        // An enumeration without enumerators does not compile; the type
        // stays declared, for the programs that name it.
        AppendFormat(text, "/* no schema is loaded */\n");
        AppendFormat(text, "typedef int %s;\n\n", kEnumWord);
        AppendFormat(text, "#endif //__%s__\n", kEnumWord);
        return WriteSchemaEnumFile(path, text);
    }
    AppendFormat(text, "typedef enum\n");
    AppendFormat(text, "{\n");

    // Not stable on purpose: schemas of equal id keep no defined order, and
    // lookups by id walk this order from now on.
    std::sort(schemas.begin(), schemas.end(),
              [](const Schema* a, const Schema* b) { return a->id < b->id; });
    for (size_t i = 0; i < schemas.size(); ++i) {
        const Schema& s = *schemas[i];
        AppendFormat(text,
                     i + 1 < schemas.size() ? "   /*size=%2d*/ %s_%s=%2d,\n"
                                            : "   /*size=%2d*/ %s_%s=%2d\n",
                     s.Size(), kEnumWord, ToUpper(s.name).c_str(), s.id);
    }

    AppendFormat(text, "} %s;\n\n", kEnumWord);
    AppendFormat(text, "#endif //__%s__\n", kEnumWord);
    return WriteSchemaEnumFile(path, text);
}

}  // namespace morvane
