#include "install/package_property.h"

const wchar_t kProductVersionQuery[] =
    L"SELECT `Value` FROM `Property` WHERE `Property`='ProductVersion'";
const wchar_t kProductCodeQuery[] = L"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'";

bool ReadPackageProperty(const InstallerApi& api, const wchar_t* packagePath, const wchar_t* query,
                         wchar_t* value, DWORD capacity, DWORD* length) {
    MSIHANDLE database = 0, view = 0, record = 0;
    *length = capacity;
    bool read = api.MsiOpenDatabaseW(packagePath, MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
                api.MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS &&
                api.MsiViewExecute(view, 0) == ERROR_SUCCESS &&
                api.MsiViewFetch(view, &record) == ERROR_SUCCESS &&
                api.MsiRecordGetStringW(record, 1, value, length) == ERROR_SUCCESS;
    if (database) api.MsiCloseHandle(database);
    if (view) api.MsiCloseHandle(view);
    if (record) api.MsiCloseHandle(record);
    if (!read) {
        *length = 0;
        if (capacity) value[0] = L'\0';
    }
    return read;
}
