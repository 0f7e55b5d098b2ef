// The analyses that fill the override tables before the file and registry
// passes. Only the bookkeeping of changed COM servers is in place; the scans
// that feed it and the path, shared-DLL and installer-component analyses are
// still to be written, so for now they add nothing and generation captures
// exactly what the plain comparison of the two stores finds.
#include "project/analysis.h"

#include "project/overrides.h"

namespace scancap {

// Not written yet: will record the servers of the class keys (InprocServer32,
// LocalServer32, ...) and the win32 paths of the type libraries of both
// hives in run.comServerFiles, keyed by GUID as well.
void ScanComRegistrations(ProjectRun& run, const SnapshotStore& post) {
    (void)run;
    (void)post;
}

void NoteModifiedFile(ProjectRun& run, const Str& path) {
    auto& servers = run.comServerFiles;
    if (servers.empty()) return;
    Str upper(path);
    upper.MakeUpper();
    auto server = servers.find(upper);
    if (server == servers.end()) return;
    auto forced = run.includedFiles.find(upper);
    if (forced != run.includedFiles.end() && (forced->second & kFileNotComServer)) return;
    server->second = true;
    ++run.changedComServers;
}

// Not written yet: will look the GUID of a CLSID, TypeLib or Interface key
// up among the recorded servers and answer whether that server changed.
// With no servers recorded no key can belong to a changed one.
bool IsChangedComKey(const ProjectRun& run, const SnapshotStore& post, const Str& keyPath) {
    (void)run;
    (void)post;
    (void)keyPath;
    return false;
}

// Not written yet: will list the directories that the capture added to the
// user's and the machine's Path variables.
std::vector<Str> AnalyseEnvironmentPath(const SnapshotStore& post, const SnapshotStore& pre) {
    (void)post;
    (void)pre;
    return {};
}

// Not written yet: will force shared DLLs whose usage count rose into the
// project.
void AnalyseSharedDlls(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre) {
    (void)run;
    (void)post;
    (void)pre;
}

// Not written yet: will force the unchanged files and keys of installer
// components that the capture registered, and hand the installed products
// to the installer database reader.
void AnalyseInstallerComponents(ProjectRun& run, const SnapshotStore& post, const SnapshotStore& pre) {
    (void)run;
    (void)post;
    (void)pre;
}

}  // namespace scancap
