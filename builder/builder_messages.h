// The texts MorvaneBuilder shows in its message boxes, in one place so the
// pages, the loader, the save and the tests use the very same words.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::msg {

// Start-up.
inline constexpr const char* kConfigurationErrors = "Errors in configuration file, see Morvane.log\n";
inline constexpr const char* kLoggerAbsent = "Error! Quillog is absent\n";

// Field checks shared by the pages.
inline constexpr const char* kEmptyField = "Error! Empty field";
inline constexpr const char* kSizeOfField = "Error! Size of field > max[%d]";
// A text of the right length that a field still cannot take.
inline constexpr const char* kZeroByte = "Error! The name holds a zero byte";

// General page.
inline constexpr const char* kNotSchema = "Selected file is not schema";
inline constexpr const char* kAlreadyLoaded = "Selected file exists in the list of loaded xsd files";
inline constexpr const char* kRootAttributesAbsent = "Error!  Root Element struct_name is absent";
inline constexpr const char* kReadError = "Error  during reading  %s[%s]";
inline constexpr const char* kReadErrorLog = "Error  during reading  %s[%s]\n";

// Schema page and element editor.
inline constexpr const char* kTypeEmpty = "Error! Type is empty";
inline constexpr const char* kNameEmpty = "Error! name is empty";
inline constexpr const char* kDeleteItem = "Are you sure that you want to delete item?";
inline constexpr const char* kSaveQuestion = "Do you want to save schema?";

// Enumerations and Templates pages. Both pages use the enumeration texts
// for their name test and their two delete questions, word for word.
inline constexpr const char* kNameExists = "Enumeration name exists";
inline constexpr const char* kDeleteEnumeration = "Are you sure that you want to delete enumeration?";
inline constexpr const char* kDeleteAllEnumerations =
    "Are you sure that you want to delete all enumeration list?";
inline constexpr const char* kEnumerationNotSelected =
    "Enumeration element is not selected from the Enumeration list";
inline constexpr const char* kTemplateNotSelected = "Template is not selected from the Template list";
inline constexpr const char* kItemNotSelected = "Item is not selected from the Item list";
inline constexpr const char* kItemNameExists = "Error! name already exists";
inline constexpr const char* kItemIdExists = "Error! id already exists";

// Save.
inline constexpr const char* kNoSchema = "Schema is not created!";
inline constexpr const char* kSchemaNameEmpty = "Error! name of schema is empty!";
inline constexpr const char* kFileExists = "File with this name exists.Do you want to change it?";
inline constexpr const char* kSaved = "Schema created successfully!";
// Asked before a save replaces the file it came from when another program
// changed it since; No (the default) keeps the file on disk.
inline constexpr const char* kChangedOnDisk =
    "File %s was changed on disk since it was loaded. Do you want to overwrite it?";
// Asked before a save replaces a schema file other than the one it came
// from; No (the default) writes nothing.
inline constexpr const char* kReplaceOther =
    "File %s holds another schema. Do you want to replace it?";

// "Error! Size of field > max[%d]" for a field of the given width (the
// width counts the terminating zero, as the record fields do), followed by
// which field it is and what fits: ": \"Name:\" of the item is 52
// characters long; at most 49 fit". Fields hold bytes: a text with letters
// outside ASCII is measured in bytes of UTF-8, and the message says so.
std::string SizeOfField(size_t width, std::string_view field, std::string_view text);

// "Error! Empty field", SizeOfField() or, when text is neither empty nor
// too long for a field of that width, an empty string.
std::string FieldCheck(std::string_view text, size_t width, std::string_view field);

// "<what> \"<name>\" is still used by a, T.b. " for the members users, or
// an empty text when there are none: put before a delete question.
std::string StillUsedBy(const char* what, std::string_view name,
                        const std::vector<std::string>& users);

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace morvane::msg
