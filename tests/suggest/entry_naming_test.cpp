#include "suggest/entry_naming.h"

#include "common/testing.h"
#include "suggest/entry_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scancap {
namespace {

struct Given { const wchar_t *source, *name; bool enabled; const wchar_t *shortcut = L"", *workingDirectory = L"";
               bool isBrowser = false; };

TEST(EntryNaming, MergesDuplicatesAndNumbersClashingNames) {
    // Expected: "name[shortcut;...]" per entry, "*" marking a browser.
    const struct { std::vector<Given> given; std::string expected; } rows[] = {
        {{{L"a\\setup.exe", L"", false}, {L"b\\setup.exe", L"", false}, {L"c\\setup.exe", L"", false}},
         "[] setup (1).exe[] setup (2).exe[] "},
        {{{L"a\\x", L"tool", false}, {L"b\\x", L"tool", false}}, "tool[] tool (1).exe[] "},
        // Two shortcuts to one program; a disabled duplicate carries its browser mark over.
        {{{L"p.exe", L"P.exe", true, L"%Desktop%"}, {L"p.exe", L"P.exe", true, L"%Programs%"},
          {L"P.EXE", L"p.exe", false, L"%Desktop%", L"", true}},
         "P.exe[%Desktop%;%Programs%;]* "},
        // Another working directory survives the first merge, not the second; no browser mark then.
        {{{L"p.exe", L"P.exe", true, L"%Desktop%"}, {L"p.exe", L"P.exe", false, L"%StartMenu%", L"w", true}},
         "P.exe[%Desktop%;%StartMenu%;] "},
        {{{L"d\\a<b>:c.exe", L"a<b>:\"/\\|?*.exe", true}}, "a_b________.exe[] "},
    };
    for (const auto& r : rows) {
        EntryList entries;
        for (const Given& g : r.given) {
            EntryPoint& e = entries.emplace_back(false, false);
            e.source = g.source, e.name = g.name, e.enabled = g.enabled;
            e.workingDirectory = g.workingDirectory, e.isBrowser = g.isBrowser;
            if (*g.shortcut) e.shortcuts.push_back(g.shortcut);
        }
        MergeAndNameEntries(entries);
        CleanEntryNames(entries);
        std::string actual;
        for (const EntryPoint& e : entries) {
            actual += testing::Utf8(e.name) + "[";
            for (const Str& s : e.shortcuts) actual += testing::Utf8(s) + ";";
            actual += e.isBrowser ? "]* " : "] ";
        }
        EXPECT_EQ(actual, r.expected);
    }
}

}  // namespace
}  // namespace scancap
