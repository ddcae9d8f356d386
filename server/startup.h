// Start-up of the Morvane program and its run modes.
#pragma once

#include <string>
#include <vector>

namespace morvane {

class Configuration;
class SchemaRegistry;
struct ParsedCommandLine;

// Runs Morvane with its command line; returns the process exit code (it
// returns only on a fatal start-up error or after SIGINT, SIGTERM, SIGHUP
// or SIGQUIT).
int ServerMain(int argc, char** argv);

// Sets the home directory (--home, made absolute; else the program
// directory, which must be set already) and the settings file (--config)
// of config. False, after a line on standard output, when the home is not
// a directory.
bool ApplyHomeOptions(const ParsedCommandLine& commandLine, Configuration& config);

// The "*.xsd" files of a directory (names ending exactly in ".xsd"), sorted
// byte-wise. Each examined entry is reported on the debug channel. When
// listed is given, it is set to false (errno telling why) when the
// directory cannot be opened or its enumeration stops with an error; the
// names found until then are returned.
std::vector<std::string> ListSchemaFiles(const std::string& directory, bool* listed = nullptr);

// The fixed data directory under a directory (the archive, which is the
// home unless Archive moves it): the entry whose name equals "Xml_Data"
// ignoring case, else "Xml_Data" itself.
std::string FixedXmlDataDirectory(const std::string& directory);

// Writes a line to the debug channel (standard error, only when the
// environment variable MORVANE_DEBUG is set and not empty).
void DebugOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace morvane
