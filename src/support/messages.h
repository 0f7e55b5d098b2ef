// Identifiers of this program's own string table (scancap.rc).
#pragma once

#define IDS_CANT_OPEN_TEMPLATE 101          // "Can't open template file"
#define IDS_ERROR_READING_TEMPLATE 102      // "Error reading from template file"
