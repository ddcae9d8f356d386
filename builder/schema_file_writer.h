// Writing the edit model as a schema file.
//
// The file is laid out with the indent unit of three blanks:
//
//   <?xml version="1.0"?>
//   <Schema name="S" id="7">                           column 0
//      <Enum name="E">                                 one unit
//         <Item name="A" id="1"/>                      two units
//      </Enum>
//   <!-- template comment -->                          column 0
//      <Template name="T">
//   <!-- element comment -->
//         <Item name="x" type="int"/>
//      </Template>
//   <!-- element comment -->
//      <Item name="c" type="char" nrepetitions="4" visibility="0"/>
//   </Schema>
//
// Attribute values are escaped, so any text typed by the user gives a
// well-formed file. Comments are written as they stand; one that XML cannot
// hold (containing "--" or ending in "-") is refused before anything is
// written.
#pragma once

#include <string>
#include <string_view>

#include "generate/xml_writer.h"

namespace morvane {

class CEditModel;

// CXmlWriter with the four line forms only schema files use. Each line but
// the comment line reaches the file as soon as it is written.
class CSchemaXmlWriter : public CXmlWriter {
  public:
    // "%s<Schema name=\"%s\" id=\"%s\">\n"; opens "Schema".
    bool OpenSchemaElement(const char* name, const char* id);
    // "%s<Item name=\"%s\" id=\"%s\"/>\n".
    bool WriteEnumItem(const char* name, const char* id);
    // One self-closed member line with the kind as its tag; nrepetitions is
    // left out when its text is exactly "1", visibility="0" added when
    // collapsed.
    bool WriteMemberElement(const char* kind, const char* name, const char* type,
                            const char* nrepetitions, bool collapsed);
    // "<!-- %s -->\n" at column 0. The caller has checked the text with
    // IsWritableComment().
    bool WriteComment(const char* text);
    // OpenElement(tag, name, 0, 0, -1) with the name escaped.
    bool OpenNamedElement(const char* tag, const char* name);
};

// text with &, <, >, " and the line-break characters replaced by entity or
// character references, for use inside a double-quoted attribute value.
std::string EscapeAttribute(std::string_view text);

// False when text cannot stand inside an XML comment: it holds "--" or
// ends in "-".
bool IsWritableComment(std::string_view text);

// The first comment of the model that the save would write but XML cannot
// hold, as a message naming its element; empty when all can be written.
std::string CheckComments(const CEditModel& model);

// Writes model as a schema file at path with the schema name and id given
// (the texts of the Schema page's fields). False, with error set, when the
// file cannot be created or written; nothing is logged.
bool WriteSchemaFile(const CEditModel& model, std::string_view name, std::string_view id,
                     const std::string& path, std::string& error);

}  // namespace morvane
