#include "install/registry_import.h"

#include "support/console.h"
#include "support/mapped_text.h"
#include "support/name_encoding.h"

#include <cwchar>
#include <iterator>

namespace scancap {

const RegistryRoot kRegistryRoots[5] = {
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_USERS", HKEY_USERS},                 {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

namespace {

// Every key line is handled alike, whatever its isolation word says. The
// generator's "isolation_unknown" is none of these and is refused, as are
// its "deleted" lines: a native install never deletes.
constexpr const wchar_t* kKeyWords[] = {L"isolation_full", L"isolation_merged", L"isolation_writecopy",
                                        L"isolation_unknowndeleted"};

struct TypeName {
    const wchar_t* name;
    DWORD type;
    bool isString;
};
constexpr TypeName kTypeNames[] = {
    {L"REG_SZ", REG_SZ, true},
    {L"REG_EXPAND_SZ", REG_EXPAND_SZ, true},
    {L"REG_MULTI_SZ", REG_MULTI_SZ, true},
    {L"REG_NONE", REG_NONE, false},
    {L"REG_BINARY", REG_BINARY, false},
    {L"REG_DWORD", REG_DWORD, false},
    {L"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, false},
    {L"REG_LINK", REG_LINK, false},
    {L"REG_RESOURCE_LIST", REG_RESOURCE_LIST, false},
    {L"REG_FULL_RESOURCE_DESCRIPTOR", REG_FULL_RESOURCE_DESCRIPTOR, false},
    {L"REG_RESOURCE_REQUIREMENTS_LIST", REG_RESOURCE_REQUIREMENTS_LIST, false},
    {L"REG_QWORD", REG_QWORD, false},
};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The code of "#" and the two hex digits at text[i], or -1 when they are not
// there (a "#" too close to the end of the line included).
int EscapedCode(const wchar_t* text, size_t length, size_t i) {
    if (text[i] != L'#' || length - i < 3) return -1;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Undoes the "#xx" escapes of a name or of string data; for the "~" form the
// result is then decoded as a project path (folder macros, inner escapes).
void ReadText(const wchar_t* text, size_t length, bool encoded, Str& scratch, Str& out) {
    Str& unescaped = encoded ? scratch : out;
    unescaped.Clear();
    size_t copied = 0;
    for (size_t i = 0; i < length; ++i) {
        const int code = EscapedCode(text, length, i);
        if (code < 0) continue;
        unescaped.Append(text + copied, i - copied);
        unescaped += static_cast<wchar_t>(code);
        i += 2;
        copied = i + 1;
    }
    unescaped.Append(text + copied, length - copied);
    if (encoded) DecodeProjectPath(unescaped, out);
}

void ReadBytes(const wchar_t* text, size_t length, RegistryLine& out) {
    for (size_t i = 0; i < length;) {
        const int code = EscapedCode(text, length, i);
        if (code < 0) {
            ++out.byteErrors;
            ++i;
        } else {
            out.bytes.push_back(static_cast<BYTE>(code));
            i += 3;
        }
    }
}

void ParseKeyLine(const wchar_t* text, size_t length, RegistryLine& out) {
    size_t i = 0;
    while (i < length && text[i] == L' ') ++i;
    for (size_t r = 0; r < std::size(kRegistryRoots); ++r) {
        if (!StartsWithAsciiNoCase(text + i, length - i, kRegistryRoots[r].name)) continue;
        // What follows the root name, less its first character (the "\").
        size_t subkey = i + std::wcslen(kRegistryRoots[r].name) + 1;
        if (subkey > length) subkey = length;
        out.kind = RegistryLineKind::Key;
        out.root = r;
        out.text.Assign(text + subkey, length - subkey);
        return;
    }
}

}  // namespace

void ParseRegistryLine(const wchar_t* line, size_t length, RegistryLine& out) {
    out.kind = RegistryLineKind::Ignored;
    out.text.Clear();
    out.bytes.clear();
    out.byteErrors = 0;
    while (length > 0 && *line == L' ') {
        ++line;
        --length;
    }
    if (length == 0) return;

    if (StartsWithAsciiNoCase(line, length, L"VALUE")) {
        // "Value" and its marker; the marker is absent only on a line that
        // ends right there.
        const size_t start = length > 5 ? 6 : 5;
        out.kind = RegistryLineKind::ValueName;
        ReadText(line + start, length - start, length > 5 && line[5] == L'~', out.unescaped, out.text);
        return;
    }
    for (const wchar_t* word : kKeyWords) {
        if (!StartsWithAsciiNoCase(line, length, word)) continue;
        const size_t skip = std::wcslen(word);
        ParseKeyLine(line + skip, length - skip, out);
        return;
    }
    // The longest type name that begins the line: "REG_DWORD_BIG_ENDIAN"
    // lines are not "REG_DWORD" lines.
    const TypeName* found = nullptr;
    size_t foundLength = 0;
    for (const TypeName& type : kTypeNames) {
        const size_t nameLength = std::wcslen(type.name);
        if (nameLength > foundLength && StartsWithAsciiNoCase(line, length, type.name)) {
            found = &type;
            foundLength = nameLength;
        }
    }
    if (!found) {
        out.kind = RegistryLineKind::Unrecognized;
        return;
    }
    out.type = found->type;
    const size_t start = length > foundLength ? foundLength + 1 : foundLength;
    if (found->isString) {
        out.kind = RegistryLineKind::StringValue;
        const bool encoded = length > foundLength && line[foundLength] == L'~';
        ReadText(line + start, length - start, encoded, out.unescaped, out.text);
    } else {
        // A byte line's marker is not looked at: its data is never encoded.
        out.kind = RegistryLineKind::ByteValue;
        ReadBytes(line + start, length - start, out);
    }
}

// The messages below are this program's established console lines, with
// their own "ERROR:" and "WARNING:" words: they go to standard output through
// the plain printer, which adds nothing to them and is not silenced by
// "-Quiet" (the warning printer would add "Warning: " and could be).
void RegistryImporter::ImportText(const Str& fileName, const BYTE* data, size_t size) {
    fileName_ = fileName;
    lineNumber_ = 0;
    Utf16Lines lines(data, size);
    while (lines.Next(lineText_)) {
        ++lineNumber_;
        ParseRegistryLine(lineText_.c_str(), lineText_.Length(), line_);
        ApplyLine();
    }
}

bool RegistryImporter::ImportFile(const Str& fileName) {
    MappedFile file;
    if (MapTextFile(fileName, file) != MapResult::Mapped) return false;
    // The byte-order mark is skipped, not checked.
    const size_t skip = file.size < 2 ? file.size : 2;
    ImportText(fileName, file.Bytes() + skip, file.size - skip);
    return true;
}

void RegistryImporter::ApplyLine() {
    switch (line_.kind) {
    case RegistryLineKind::Ignored: return;
    case RegistryLineKind::ValueName: valueName_ = line_.text; return;
    case RegistryLineKind::Key: OpenKey(); return;
    case RegistryLineKind::Unrecognized:
        PrintPlain(L"WARNING: There seems to be an error in parsing the file %ls at line number %d\n",
                   fileName_.c_str(), lineNumber_);
        return;
    case RegistryLineKind::StringValue: {
        if (!key_) return;
        const DWORD size = static_cast<DWORD>(line_.text.Length() * sizeof(wchar_t));
        // The system counts a string's terminator in when the caller's size
        // leaves it out and a zero unit follows the data; a unit that is not
        // zero there keeps the value exactly as long as the file says.
        line_.text += L'\xFFFF';
        SetValue(line_.type, reinterpret_cast<const BYTE*>(line_.text.c_str()), size);
        return;
    }
    case RegistryLineKind::ByteValue:
        if (!key_) return;
        for (size_t i = 0; i < line_.byteErrors; ++i) PrintPlain(L"Error in ConvertToByteArray\n");
        SetValue(line_.type, line_.bytes.data(), static_cast<DWORD>(line_.bytes.size()));
        return;
    }
}

void RegistryImporter::OpenKey() {
    key_.reset();
    keyName_.Clear();
    const RegistryRoot& root = kRegistryRoots[line_.root];
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExW(root.key, line_.text.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        PrintPlain(L"%ls\\%ls could not be created errorcode=%d\n", root.name, line_.text.c_str(), int(rc));
        return;
    }
    key_.reset(key);
    keyName_.Format(L"%ls\\%ls", root.name, line_.text.c_str());
    if (printLog_) PrintPlain(L"%ls created\n", keyName_.c_str());
}

void RegistryImporter::SetValue(DWORD type, const BYTE* data, DWORD size) {
    const LONG rc = RegSetValueExW(key_.get(), valueName_.c_str(), 0, type, data, size);
    if (rc != ERROR_SUCCESS)
        PrintPlain(L"WARNING: RegSetValueEx for key %ls and value %ls failed errorcode=%d\n", keyName_.c_str(),
                   valueName_.c_str(), int(rc));
    else if (printLog_)
        PrintPlain(L"RegSetValueEx for key %ls and value %ls passed\n", keyName_.c_str(), valueName_.c_str());
}

void ImportRegistryFiles(const Str& captureFolder, bool printLog) {
    RegistryImporter importer(printLog);
    Str fileName;
    for (const wchar_t* hive : {L"HKEY_CURRENT_USER", L"HKEY_LOCAL_MACHINE", L"HKEY_USERS"}) {
        fileName.Format(L"%ls\\%ls.txt", captureFolder.c_str(), hive);
        if (!importer.ImportFile(fileName)) return;
    }
}

}  // namespace scancap
