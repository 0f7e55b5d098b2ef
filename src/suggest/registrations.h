// What an installer registers besides shortcuts: file types, URL protocols,
// COM local servers, services, web browsers and mail clients, read from the
// post-install store, kept when the installation created or changed them,
// and attached to the entry points of the overview. Also the templates that
// a capture needs.
#pragma once

#include "snapshot/store.h"
#include "suggest/entry_point.h"

#include <cstdint>
#include <vector>

namespace scancap {

enum AssociationKind : int32_t { kFileType = 0, kUrlProtocol = 1, kObjectType = 2 };

// One registration: the extension (with its "."), protocol or programmatic
// identifier, and the command line that serves it.
struct Association {
    Str name;
    Str command;  // environment references expanded
    int32_t kind;
};

struct ServiceImage {
    Str name;     // the service's key name
    Str command;  // its image path, environment references expanded
};

// Appends "Flash" when the installation registered a new or changed player
// version, and "IE6" when it upgraded the browser from version 5 to 6.
void DetectTemplates(const SnapshotStore& post, const SnapshotStore& pre, std::vector<Str>& templates);

// The file types, protocols and object types registered under the machine's
// and then the current user's classes whose command is new or changed; the
// first of a name (ignoring case) stays.
void CollectAssociations(const SnapshotStore& post, const SnapshotStore& pre, std::vector<Association>& fileTypes,
                         std::vector<Association>& protocols, std::vector<Association>& objectTypes);

// The new services that run in a process of their own or a shared one.
void CollectServices(const SnapshotStore& post, const SnapshotStore& pre, std::vector<ServiceImage>& services);

// Marks the entries that start a new or changed browser registration, or
// appends an enabled browser entry when none does.
void DetectBrowsers(const SnapshotStore& post, const SnapshotStore& pre, EntryList& entries);

// Marks (and enables) the entry of each new or changed mail client as the
// default (1) or another (2) mail client, appending one when none matches.
void DetectMailClients(const SnapshotStore& post, const SnapshotStore& pre, EntryList& entries);

// Gives each association to the first entry without arguments that starts
// its program (enabled entries first, then all), enabling that entry; an
// association that no entry starts is dropped.
void AssignAssociations(const std::vector<Association>& associations, EntryList& entries);

// Gives each service to every entry without arguments that starts its image
// (enabled entries first, then all).
void AssignServices(const std::vector<ServiceImage>& services, EntryList& entries);

// The commented "DefaultEmailProgram" lines of the mail-client entries.
void WriteMailLines(const EntryList& entries, Str& text);

// Splits a command line into program and arguments, the program being a
// file that `store` holds: the quoted text, or else the shortest run of
// blank-separated words that names a file. False when there is none.
bool SplitCommandInStore(const SnapshotStore& store, const Str& command, Str& program, Str& arguments);

// The full path of the program that a command line starts, looked up on this
// machine: the quoted text (with ".exe" appended when its file name has no
// "."), or else the shortest run of blank-separated words that names a file.
bool FindProgramOnDisk(const Str& command, Str& program);

}  // namespace scancap
