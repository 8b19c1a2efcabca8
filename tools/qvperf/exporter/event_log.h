// The exporter service's messages in the Windows event log: the Application
// log's source "VudoZidExporter", whose texts come from the message table
// compiled into qvperf.exe (event_messages.mc). A service has no console, so
// this is where an administrator reads why it stopped or what it serves.
#pragma once
#include <string>

namespace qvperf {

// Registers the source under the EventLog service's Application key, naming
// this program as its message file. False with a message on failure (and on
// platforms without an event log).
[[nodiscard]] bool AddEventLogSource(std::string* error);

// Deletes the source's key; a source that is not there is not an error.
[[nodiscard]] bool RemoveEventLogSource(std::string* error);

// From now on every message qvperf reports also goes to the event log.
// Nothing happens where there is none.
void CopyMessagesToEventLog();

}  // namespace qvperf
