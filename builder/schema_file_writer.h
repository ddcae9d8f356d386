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
// Comments read from a file stand where they stood; the members of a
// Structure of its own are written inside it. Attribute values are escaped, so any text typed by
// the user gives a well-formed file. Comments are written as they stand; one that XML cannot hold
// (containing "--" or ending in "-") is refused before anything is written.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "generate/xml_writer.h"

namespace morvane {

class CEditModel;

using XmlAttributes = std::vector<std::pair<std::string, std::string>>;

// CXmlWriter with the line forms of schema files.
class CSchemaXmlWriter : public CXmlWriter {
  public:
    // "<tag a="v" ...>" at the current indent, values escaped, which opens
    // tag; "<tag a="v" .../>" when selfClosed.
    bool WriteTag(const char* tag, const XmlAttributes& attributes, bool selfClosed);
    // "<!-- %s -->\n" at column 0. The caller has checked the text with
    // IsWritableComment().
    bool WriteComment(const char* text);
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

// The schema file of model with the schema name and id given (the texts of
// the Schema page's fields): everything the model holds, what the loaded
// file said that no page shows included, each comment and declaration in
// its place. A template or enumeration is written no later than the first
// member that uses it.
std::string SchemaFileText(const CEditModel& model, std::string_view name, std::string_view id);

// Writes SchemaFileText() to path. False, with error set, when the file
// cannot be created or written; nothing is logged.
bool WriteSchemaFile(const CEditModel& model, std::string_view name, std::string_view id,
                     const std::string& path, std::string& error);

}  // namespace morvane
