#include "msi/msi_database.h"

#include "support/fatal.h"

namespace scancap {
namespace {

// The system's own text for the error, line break and all: the warning that
// reports it takes the line end from it.
[[noreturn]] void ThrowInstallerError(UINT error) { throw SystemMessage(error, true); }

void Check(UINT result) {
    if (result != ERROR_SUCCESS) ThrowInstallerError(result);
}

}  // namespace

MSIBase::~MSIBase() { MSIBase::Close(); }

void MSIBase::Close() {
    if (handle_ != 0) {
        MsiCloseHandle(handle_);
        handle_ = 0;
    }
}

void MSIDatabase::Open(const wchar_t* path, const wchar_t* persist) {
    Check(MsiOpenDatabaseW(path, persist, Put()));
}

void MSIDatabase::OpenInstalledProduct(const wchar_t* productCode) {
    wchar_t package[MAX_PATH];
    DWORD length = MAX_PATH;
    Check(MsiGetProductInfoW(productCode, L"LocalPackage", package, &length));
    Open(package);
}

bool MSIDatabase::TableExists(const wchar_t* name) const {
    MSICONDITION state = MsiDatabaseIsTablePersistentW(handle_, name);
    return state == MSICONDITION_TRUE || state == MSICONDITION_FALSE;
}

void MSIDatabase::OpenView(const wchar_t* sql, MSIView& view) const {
    Check(MsiDatabaseOpenViewW(handle_, sql, view.Put()));
}

void MSIView::Execute(const MSIRecord* parameters) {
    Check(MsiViewExecute(handle_, parameters ? parameters->Handle() : 0));
}

bool MSIView::Fetch(MSIRecord& record) {
    UINT result = MsiViewFetch(handle_, record.Put());
    if (result == ERROR_NO_MORE_ITEMS) return false;
    Check(result);
    return true;
}

void MSIRecord::Create(UINT fieldCount) {
    *Put() = MsiCreateRecord(fieldCount);
    // No error code comes with a missing record.
    if (handle_ == 0) ThrowInstallerError(0);
}

void MSIRecord::SetString(UINT field, const wchar_t* text) { Check(MsiRecordSetStringW(handle_, field, text)); }

int MSIRecord::GetInteger(UINT field) const { return MsiRecordGetInteger(handle_, field); }

void MSIRecord::GetString(UINT field, Str& out) const {
    if (out.Capacity() < 64) out.Reserve(64, true);
    for (;;) {
        // The count goes in as the room (terminator included) and comes back
        // as the text's length, or the length needed when ERROR_MORE_DATA.
        DWORD length = static_cast<DWORD>(out.Capacity() - 1);
        UINT result = MsiRecordGetStringW(handle_, field, out.Data(), &length);
        if (result == ERROR_MORE_DATA) {
            out.Reserve(size_t(length) + 1, true);
            continue;
        }
        Check(result);
        out.SetLength(length);
        return;
    }
}

}  // namespace scancap
