#pragma once

#include <string>

// Turns an LZARI-packed resource of the program (language-neutral lookup by
// id and type string) into a new file at path. Returns 1 when the file was
// written or when there is no such resource (nothing to do), 0 when the data
// does not decode or the file cannot be created.
int ExtractResourceToFile(int resourceId, const wchar_t* resourceType, const std::wstring& path);

// The same from another module's resources; module is an HMODULE.
int ExtractResourceToFile(void* module, int resourceId, const wchar_t* resourceType, const std::wstring& path);

// Resources that carry the two DLLs.
constexpr int kEngineLibraryResourceId = 120;
constexpr int kIdentityLibraryResourceId = 121;
constexpr const wchar_t kEngineLibraryResourceType[] = L"DOWNLOAD_LIB";
constexpr const wchar_t kIdentityLibraryResourceType[] = L"VERYFY_DLL";
