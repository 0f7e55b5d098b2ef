// The analyses that fill the override tables before the file and registry
// passes. Only the bookkeeping of changed COM servers is in place; the scans
// that feed it and the path, shared-DLL and installer-component analyses are
// still to be written, so for now they add nothing and generation captures
// exactly what the plain comparison of the two stores finds.
#include "project/analysis.h"

#include "project/overrides.h"

#include <map>

namespace scancap {
namespace {

// Upper-cased server file path -> "changed" flag. Filled by the COM
// registration scan; empty until that scan is written.
std::map<Str, bool>& ComServerFiles() {
    static std::map<Str, bool> files;
    return files;
}

}  // namespace

// Not written yet: will record the servers of the class keys (InprocServer32,
// LocalServer32, ...) and the win32 paths of the type libraries of both
// hives in ComServerFiles, keyed by GUID as well.
void ScanComRegistrations(SnapshotStore& post) {
    (void)post;
}

uint32_t& ChangedComServerCount() {
    static uint32_t count = 0;
    return count;
}

void NoteModifiedFile(SnapshotStore& post, const Str& path) {
    auto& servers = ComServerFiles();
    if (servers.empty()) return;
    Str upper(path);
    upper.MakeUpper();
    auto server = servers.find(upper);
    if (server == servers.end()) return;
    auto forced = post.includedFiles.find(upper);
    if (forced != post.includedFiles.end() && (forced->second & kFileNotComServer)) return;
    server->second = true;
    ++ChangedComServerCount();
}

// Not written yet: will look the GUID of a CLSID, TypeLib or Interface key
// up among the recorded servers and answer whether that server changed.
// With no servers recorded no key can belong to a changed one.
bool IsChangedComKey(SnapshotStore& post, SnapshotStore& pre, const Str& keyPath) {
    (void)post;
    (void)pre;
    (void)keyPath;
    return false;
}

// Not written yet: will list the directories that the capture added to the
// user's and the machine's Path variables.
std::vector<Str> AnalyseEnvironmentPath(SnapshotStore& post, SnapshotStore& pre) {
    (void)post;
    (void)pre;
    return {};
}

// Not written yet: will force shared DLLs whose usage count rose into the
// project.
void AnalyseSharedDlls(SnapshotStore& post, SnapshotStore& pre) {
    (void)post;
    (void)pre;
}

// Not written yet: will force the unchanged files and keys of installer
// components that the capture registered, and hand the installed products
// to the installer database reader.
void AnalyseInstallerComponents(SnapshotStore& post, SnapshotStore& pre) {
    (void)post;
    (void)pre;
}

}  // namespace scancap
