// The state of one project-generation run: what the command line asked for,
// what the driver learnt from the two snapshots, and the tables the analyses
// fill for the file and registry passes. The driver makes one and hands it
// down; nothing of a run outlives it.
#pragma once

#include "suggest/machine_facts.h"
#include "support/exclude_list.h"
#include "support/str.h"

#include <cstdint>
#include <map>
#include <vector>

namespace scancap {

struct ProjectRun {
    // Asked for by the command line.
    ExcludeList* excludeList = nullptr;  // owned by the driver; templates add to it
    Str preSnapshot;                     // the snapshot files, never copied into a project
    Str postSnapshot;
    Str templatePath;  // the project overview of -GenerateProject; empty otherwise
    Str outputDir;     // empty when printing
    bool printOnly = false;  // DiffPrint: print the difference instead of writing a project
    bool quiet = false;      // no "Copying" lines and no warnings

    // What the capture did to the browser.
    UpgradeFlags upgrade;

    // Override tables, filled by the templates and analyses before the passes
    // and consumed by them. Keys are upper-cased paths, ordered by Str order.
    std::map<Str, uint32_t> includedFiles;
    std::map<Str, uint32_t> includedKeys;
    std::map<Str, Str> packageSettings;  // value name -> registry text of the value
    std::vector<Str> templateNames;      // distinct templates in use, in load order

    // COM servers found by the registration scan. Both maps lead to an index
    // into comServerChanged, so that every class and type library of one
    // server file shares the server's flag; the file pass sets it when it
    // copies the server modified and counts it in changedComServers.
    std::map<Str, size_t> comServerFiles;  // upper-cased server file path
    std::map<Str, size_t> comGuids;        // upper-cased braced class or type-library GUID
    std::vector<uint8_t> comServerChanged;
    int32_t changedComServers = 0;

    // Files the file pass could not copy: the project is incomplete, and the
    // run ends with an exit code that says so.
    uint32_t failedCopies = 0;
};

}  // namespace scancap
