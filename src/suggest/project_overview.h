// The project overview (the file -SuggestProject writes): build options,
// facts about the capture machine, commented samples and one section per
// proposed entry point, for a person to edit before -GenerateProject.
#pragma once

#include "snapshot/store.h"
#include "suggest/machine_facts.h"
#include "support/exclude_list.h"

#include <cstdint>

namespace scancap {

struct OverviewSettings {
    ExcludeList* excludeList = nullptr;  // which new files are no part of the capture
    int32_t ieSelection = -1;            // -IESelection; negative when not given
    UpgradeFlags upgrade;                // what the capture did to the browser
};

// The whole overview text. `prePath` and `postPath` are the full paths of
// the snapshot files; `samples` adds the update and app-link samples.
Str ComposeProjectOverview(const SnapshotStore& post, const SnapshotStore& pre, const OverviewSettings& settings,
                           const Str& prePath, const Str& postPath, bool samples);

// Composes the overview and writes it to `overviewFile` as UTF-16LE with a
// byte-order mark; the samples appear when the branding module's sample flag
// is "1". Fatal when the file cannot be created.
void WriteProjectOverview(const SnapshotStore& post, const SnapshotStore& pre, const Str& overviewFile, const Str& prePath,
                          const Str& postPath, const OverviewSettings& settings);

// The name-based code of the overview's installer sample: the SHA-1 of the
// narrow text, its first 16 bytes as a GUID in braces; empty when hashing fails.
Str NameBasedCode(const Str& text);

}  // namespace scancap
