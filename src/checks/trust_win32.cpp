#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>
#include <softpub.h>

#include "base/utf8_windows.h"
#include "checks/trust.h"

namespace marvik {

namespace {

// The catalog record as Windows 8 and later read it: a SHA-256 catalog hash
// is checked against the catalog admin context it was computed with. The
// headers give the field only to builds for Windows 8 and later; the
// client also runs on 7, which reads the record up to the fields it knows.
struct CatalogMember {
    WINTRUST_CATALOG_INFO info;
    HCATADMIN catalogAdmin;
};

// wintrust.dll and crypt32.dll are loaded when first needed, so that the
// client's own imports stay the kernel's and the interface's; a missing
// function is a file left unverified, never a crash.
struct TrustCalls {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signerOf = nullptr;
    decltype(&CryptCATAdminAcquireContext) acquire = nullptr;
    decltype(&CryptCATAdminAcquireContext2) acquireWith = nullptr;  // Windows 8 and later
    decltype(&CryptCATAdminCalcHashFromFileHandle) hash = nullptr;
    decltype(&CryptCATAdminCalcHashFromFileHandle2) hashWith = nullptr;
    decltype(&CryptCATAdminEnumCatalogFromHash) nextCatalog = nullptr;
    decltype(&CryptCATCatalogInfoFromContext) catalogInfo = nullptr;
    decltype(&CryptCATAdminReleaseCatalogContext) releaseCatalog = nullptr;
    decltype(&CryptCATAdminReleaseContext) releaseAdmin = nullptr;
    decltype(&CertGetNameStringW) nameOf = nullptr;
};

template <typename F>
void load(HMODULE dll, const char* name, F& call) {
    call = dll == nullptr ? nullptr : reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

const TrustCalls& trustCalls() {
    static const TrustCalls calls = [] {
        TrustCalls c;
        const HMODULE wintrust = LoadLibraryW(L"wintrust.dll");
        const HMODULE crypt32 = LoadLibraryW(L"crypt32.dll");
        load(wintrust, "WinVerifyTrust", c.verify);
        load(wintrust, "WTHelperProvDataFromStateData", c.providerData);
        load(wintrust, "WTHelperGetProvSignerFromChain", c.signerOf);
        load(wintrust, "CryptCATAdminAcquireContext", c.acquire);
        load(wintrust, "CryptCATAdminAcquireContext2", c.acquireWith);
        load(wintrust, "CryptCATAdminCalcHashFromFileHandle", c.hash);
        load(wintrust, "CryptCATAdminCalcHashFromFileHandle2", c.hashWith);
        load(wintrust, "CryptCATAdminEnumCatalogFromHash", c.nextCatalog);
        load(wintrust, "CryptCATCatalogInfoFromContext", c.catalogInfo);
        load(wintrust, "CryptCATAdminReleaseCatalogContext", c.releaseCatalog);
        load(wintrust, "CryptCATAdminReleaseContext", c.releaseAdmin);
        load(crypt32, "CertGetNameStringW", c.nameOf);
        return c;
    }();
    return calls;
}

// The signer of what data verified: the common name of its certificate,
// and whether its chain reaches a root at all. Windows refuses a chain that
// stops short of one; Wine accepts it (its chain policy looks only for an
// untrusted root), and with it a self-made certificate whose root the
// signature leaves out.
SignatureCheck signerOf(const TrustCalls& calls, HANDLE state) {
    SignatureCheck found;
    if (calls.providerData == nullptr || calls.signerOf == nullptr || calls.nameOf == nullptr) return found;
    CRYPT_PROVIDER_DATA* provider = calls.providerData(state);
    CRYPT_PROVIDER_SGNR* signer = provider == nullptr ? nullptr : calls.signerOf(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain[0].pCert == nullptr ||
        signer->pChainContext == nullptr ||
        (signer->pChainContext->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0)
        return found;
    found.valid = true;
    wchar_t name[256] = {};
    calls.nameOf(signer->pasCertChain[0].pCert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name,
                 256);
    if (name[0] == L'\0')
        calls.nameOf(signer->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
    found.signer = utf8FromWide(name);
    return found;
}

// Authenticode verification of what data names, offline: no revocation
// check and no URL fetched, only what the machine already holds.
SignatureCheck verifyTrust(WINTRUST_DATA& data) {
    const TrustCalls& calls = trustCalls();
    SignatureCheck found;
    if (calls.verify == nullptr) return found;
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    if (calls.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data) == 0)
        found = signerOf(calls, data.hWVTStateData);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    calls.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return found;
}

std::wstring hexUpper(const BYTE* bytes, DWORD n) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    for (DWORD i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// The file's hash looked up in the catalogs of one admin context, and the
// first catalog listing it that verifies.
SignatureCheck catalogSignatureWith(const TrustCalls& calls, HCATADMIN admin, bool sha256, HANDLE file,
                                    const std::wstring& path) {
    SignatureCheck found;
    BYTE hash[64];
    DWORD n = sizeof hash;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    const BOOL hashed = sha256 ? calls.hashWith(admin, file, &n, hash, 0) : calls.hash(file, &n, hash, 0);
    if (!hashed) return found;
    const std::wstring tag = hexUpper(hash, n);
    HCATINFO catalog = nullptr;
    while (!found.valid && (catalog = calls.nextCatalog(admin, hash, n, 0, catalog ? &catalog : nullptr)) != nullptr) {
        CATALOG_INFO info = {};
        info.cbStruct = sizeof info;
        if (!calls.catalogInfo(catalog, &info, 0)) continue;
        CatalogMember member = {};
        member.info.cbStruct = sizeof member;
        member.info.pcwszCatalogFilePath = info.wszCatalogFile;
        member.info.pcwszMemberTag = tag.c_str();
        member.info.pcwszMemberFilePath = path.c_str();
        member.info.hMemberFile = file;
        member.info.pbCalculatedFileHash = hash;
        member.info.cbCalculatedFileHash = n;
        member.catalogAdmin = admin;
        WINTRUST_DATA data = {};
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &member.info;
        found = verifyTrust(data);
    }
    if (catalog != nullptr) calls.releaseCatalog(admin, catalog, 0);
    return found;
}

}  // namespace

SystemFolders systemFolders() {
    static const SystemFolders folders = [] {
        SystemFolders f;
        wchar_t folder[MAX_PATH] = {};
        UINT n = GetSystemDirectoryW(folder, MAX_PATH);
        if (n != 0 && n < MAX_PATH) f.system = utf8FromWide(folder, n);
        n = GetSystemWow64DirectoryW(folder, MAX_PATH);
        if (n != 0 && n < MAX_PATH) f.wow64 = utf8FromWide(folder, n);
        return f;
    }();
    return folders;
}

SignatureCheck embeddedSignature(const std::string& path) {
    const std::wstring widePath = wideFromUtf8(path);
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = widePath.c_str();
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    return verifyTrust(data);
}

SignatureCheck catalogSignature(const std::string& path) {
    const TrustCalls& calls = trustCalls();
    SignatureCheck found;
    if (calls.acquire == nullptr || calls.hash == nullptr || calls.nextCatalog == nullptr ||
        calls.catalogInfo == nullptr || calls.releaseCatalog == nullptr || calls.releaseAdmin == nullptr)
        return found;
    const std::wstring widePath = wideFromUtf8(path);
    HANDLE file = CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return found;
    // SHA-256 first: since Windows 8 the catalogs list many files by it
    // alone. Then SHA-1, the only hash Windows 7 knows.
    for (const bool sha256 : {true, false}) {
        if (found.valid || (sha256 && (calls.acquireWith == nullptr || calls.hashWith == nullptr))) continue;
        HCATADMIN admin = nullptr;
        const BOOL acquired =
            sha256 ? calls.acquireWith(&admin, nullptr, L"SHA256", nullptr, 0) : calls.acquire(&admin, nullptr, 0);
        if (!acquired) continue;
        found = catalogSignatureWith(calls, admin, sha256, file, widePath);
        calls.releaseAdmin(admin, 0);
    }
    CloseHandle(file);
    return found;
}

}  // namespace marvik
