// Owners of Windows Installer handles: a database, a view on it and a
// record. Each object owns its handle and closes it when it ends. Every call
// that fails throws a Str holding the system's message for the error; the
// end of a view's rows is no failure.
#pragma once

#include "support/str.h"

#include <msi.h>
#include <msiquery.h>

namespace scancap {

class MSIBase {
public:
    MSIBase() = default;
    MSIBase(const MSIBase&) = delete;
    MSIBase& operator=(const MSIBase&) = delete;
    virtual ~MSIBase();
    // Closes the handle when there is one.
    virtual void Close();

    MSIHANDLE Handle() const noexcept { return handle_; }
    // Closes the handle and lets a call store a new one.
    MSIHANDLE* Put() {
        Close();
        return &handle_;
    }

protected:
    MSIHANDLE handle_ = 0;
};

class MSIRecord;
class MSIView;

class MSIDatabase : public MSIBase {
public:
    // Read-only unless another persist mode is given.
    void Open(const wchar_t* path, const wchar_t* persist = MSIDBOPEN_READONLY);
    // Opens the copy of an installed product's package that Windows Installer
    // keeps ("LocalPackage"); productCode is the braced GUID.
    void OpenInstalledProduct(const wchar_t* productCode);
    // Persistent or temporary; false when absent or when the question fails.
    bool TableExists(const wchar_t* name) const;
    void OpenView(const wchar_t* sql, MSIView& view) const;
};

class MSIView : public MSIBase {
public:
    void Execute(const MSIRecord* parameters = nullptr);
    // The next row into record; false after the last one.
    bool Fetch(MSIRecord& record);
};

class MSIRecord : public MSIBase {
public:
    void Create(UINT fieldCount);
    void SetString(UINT field, const wchar_t* text);
    // MSI_NULL_INTEGER for an empty field; no error is reported.
    int GetInteger(UINT field) const;
    void GetString(UINT field, Str& out) const;
};

}  // namespace scancap
