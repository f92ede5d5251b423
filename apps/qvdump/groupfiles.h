// qvdump's reading of the group data files: full-mouth series and their templates (XML
// "FMS_DATA" / "TEMPLATE_DATA", ".fms"), and contexts (".cqv": XML "CONTEXT_DATA" or the older
// chunked binary form).
#pragma once

namespace qvdump {

class LibraryName;

// True for the names qvdump reads as group data files without being told: ".fms" and ".cqv".
bool IsGroupFile(const char* name);
// Loads the file the user named `name` (through `path`) as a series, a template or a context
// (by its extension and root element) and prints the group's fields and every item; on failure
// reports the last error code and text on standard error and answers false.
bool DumpGroupFile(const char* name, const LibraryName& path);

}  // namespace qvdump
