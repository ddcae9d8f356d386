#include "schema_test_util.h"

#include <gtest/gtest.h>

#include <regex>

namespace morvane::test {
namespace {

void Describe(const Unit& u, int level, std::vector<std::string>& out) {
    std::string line(static_cast<size_t>(level) * 2, ' ');
    line += u.name + " ";
    if (const EnumUnit* e = u.AsEnum()) {
        line += "enum {";
        for (size_t i = 0; i < e->items.size(); ++i) {
            if (i > 0) line += ",";
            line += e->items[i].name + "=" + std::to_string(e->items[i].id);
        }
        out.push_back(line + "}");
        return;
    }
    line += std::string(SchemaTypeName(u.type)) + " @" + std::to_string(u.offset) + " " +
            std::to_string(u.size) + "x" + std::to_string(u.nrepetitions);
    if (!u.visibility) line += " hidden";
    const CStructure* s = u.AsStructure();
    if (s != nullptr && !s->templateName.empty()) line += " T=" + s->templateName;
    if (u.ref != nullptr) line += " ref=" + u.ref->name;
    if (!u.comment.empty()) line += " #" + u.comment;
    out.push_back(line);
    if (s != nullptr) {
        for (const auto& member : s->units) Describe(*member, level + 1, out);
    }
}

}  // namespace

bool LoadSchemaText(const std::string& xml, Schema& schema,
                    std::vector<SchemaDiagnostic>* diagnostics) {
    pugi::xml_document doc;
    pugi::xml_parse_result parsed =
        doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_comments);
    if (!parsed) {
        ADD_FAILURE() << "test schema is not well-formed: " << parsed.description();
        return false;
    }
    return LoadSchema(schema, doc, diagnostics);
}

std::vector<std::string> DescribeSchema(const Schema& schema) {
    std::vector<std::string> out;
    out.push_back("schema " + schema.name + " id=" + std::to_string(schema.id) +
                  " size=" + std::to_string(schema.Size()));
    if (schema.root != nullptr) Describe(*schema.root, 0, out);
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

std::string ManyMembers(int n) {
    std::string xml = "<Schema name=\"Big\" id=\"1\">";
    for (int i = 0; i < n; ++i) xml += "<Item name=\"f" + std::to_string(i) + "\" type=\"int\"/>";
    return xml;
}

void ExpectBatchesOfWholeLines(const LogRecorder& log, size_t most) {
    EXPECT_GT(log.lines().size(), 1u);
    EXPECT_LT(log.lines().size(), most);
    for (const std::string& call : log.lines()) EXPECT_EQ(call.back(), '\n');
}

std::vector<std::string> ErrorLines(const LogRecorder& log) {
    std::vector<std::string> errors;
    for (const auto& line : SplitLines(log.Text())) {
        if (line.rfind("Error", 0) == 0) errors.push_back(line);
    }
    return errors;
}

std::string MaskIdentities(const std::string& text) {
    static const std::regex kHex("0x[0-9A-F]+");
    static const std::regex kBare("pstructure=0[0-9A-F]+");
    return std::regex_replace(std::regex_replace(text, kHex, "0xID"), kBare, "pstructure=0ID");
}

}  // namespace morvane::test
