// The binding of the optional print-data plug-in: a shared library named by
// PrintDataDll that receives one header call per written record and one call
// per value, each with a readable label.
//
// The binding is process-wide. BindPrintData() runs once during start-up,
// before any thread that writes records exists; afterwards the state is only
// read. Writers on several threads serialise their records with
// LockPrintDataRecord(). The library and the plug-in's handle
// are never released.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace morvane {

class Schema;

// The plug-in's two exports, looked up by name.
using CreateMyPrintDataFn = void* (*)(const char* path, int32_t flag);
using RunMyPrintDataFn = int32_t (*)(void* handle, const char* label, const char* value);

// Start-up step of the print-data plug-in. dllName empty: no plug-in, no
// message, null. Otherwise loads the library (dllName itself when it is an
// absolute path, else programDirectory/dllName, or libraryDirectory/dllName
// when only that file exists), looks up both exports and
// calls CreateMyPrintData_Int("<xmlDataDirectory>/FormattedOutput.log", 1).
// A library that cannot be loaded or lacks an export counts as absent:
// "Warning! <dllName> is absent" is printed and logged and null returned.
// Returns the plug-in's handle for the Schema objects created afterwards;
// when the plug-in declines to create one, an error line naming the output
// file is logged and null returned. Calling it again replaces the binding.
void* BindPrintData(const std::string& dllName, const std::string& programDirectory,
                    const std::string& xmlDataDirectory, const std::string& libraryDirectory = "");

// True when values of a schema with this print-data handle go to the
// plug-in: the handle is not null and the plug-in is bound.
bool PrintDataActive(void* handle);

// Start of one record: with a plug-in configured but absent prints "Error!
// File <dllName> is absent" on standard output (at every record); with an
// active handle sends the header label "--------------<name>--------------"
// and a null value.
void PrintDataRecordHeader(const Schema& schema);

// One value: label and text are handed over as they are. Does nothing
// unless PrintDataActive(handle).
void PrintDataValue(void* handle, const char* label, const char* text);

// The plug-in takes one record at a time: a server that writes records on
// several threads holds this lock over each record it writes, so that the
// plug-in sees a record's header and values together. An empty lock (no
// wait) when the values of handle go nowhere.
std::unique_lock<std::mutex> LockPrintDataRecord(void* handle);

}  // namespace morvane
