// Module trust from the system's own Authenticode verification, on DLLs the
// build signed with a throwaway root (tools/fixtures/make_signed_dll.py)
// that only this test trusts, for as long as it runs.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>

#include "checks/trust.h"
#include "support/files.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

// The root in the machine's Root store (under Wine, the test prefix's
// registry), written through at once so that other processes see it, and
// removed again at the end. Wine keeps a root deleted through the store in
// its registry, so its key (named by the certificate's SHA-1) goes too.
struct TrustedRoot {
    HCERTSTORE store = nullptr;
    PCCERT_CONTEXT cert = nullptr;
    std::wstring key;
    explicit TrustedRoot(const std::string& der) {
        store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (store == nullptr) return;
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &cert);
        CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        BYTE sha1[20];
        DWORD n = sizeof sha1;
        if (cert == nullptr || !CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, sha1, &n)) return;
        key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
        for (DWORD i = 0; i < n; ++i) {
            key += L"0123456789ABCDEF"[sha1[i] >> 4];
            key += L"0123456789ABCDEF"[sha1[i] & 15];
        }
    }
    ~TrustedRoot() {
        if (cert != nullptr) CertDeleteCertificateFromStore(cert);
        if (store != nullptr) CertCloseStore(store, 0);
        if (!key.empty()) RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    }
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;
};

std::string copied(const std::string& from, const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string to = std::string(temp) + "marvik trust " + std::to_string(GetTickCount()) + "\\" + name;
    test::writeFile(to, test::readFile(from));
    return to;
}

// This test executable run again with args; its exit code.
DWORD runTests(const std::string& args) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string line = "\"" + std::string(exe) + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1000;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 1001;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// Run by the test below in a process started once the test root is trusted:
// the system's chain engine may have read the Root store before it was.
TEST(ModuleTrustWin, DISABLED_SignedFilesUnderTheTrustedTestRoot) {
    const struct {
        const char* file;
        bool trusted;
        const char* signer;
    } cases[] = {
        {"marvik_signed.dll", true, "Marvik Test Signer"},
        {"marvik_unsigned.dll", false, ""},
        {"marvik_signed_flipped.dll", false, ""},
        // Anyone can sign with a certificate of their own making.
        {"marvik_signed_unknown_root.dll", false, ""},
    };
    for (const auto& c : cases) {
        const ModuleTrust t = moduleTrust(test::fixture(c.file));
        EXPECT_EQ(t.trusted, c.trusted) << c.file;
        EXPECT_EQ(t.signedValid, c.trusted) << c.file;
        EXPECT_FALSE(t.systemModule) << c.file;
        EXPECT_EQ(t.signer, c.signer) << c.file;
    }
}

TEST(ModuleTrustWin, SignedFileTrustedWithItsSignerOnlyUnderATrustedRootAndWhileUnchanged) {
    const TrustedRoot root(test::readFile(test::fixture("marvik_test_root.cer")));
    ASSERT_NE(root.cert, nullptr) << "the test root could not be added to the Root store";
    EXPECT_EQ(runTests("--gtest_also_run_disabled_tests "
                       "--gtest_filter=ModuleTrustWin.DISABLED_SignedFilesUnderTheTrustedTestRoot"),
              0u);
}

TEST(ModuleTrustWin, SystemModulesTrustedByTheirFolderAndTheirCopiesNot) {
    const SystemFolders folders = systemFolders();
    ASSERT_FALSE(folders.system.empty());
    for (const std::string& folder : {folders.system, folders.wow64}) {
        if (folder.empty()) continue;  // a 32-bit system has no twin
        const ModuleTrust t = moduleTrust(folder + "\\kernel32.dll");
        EXPECT_TRUE(t.trusted) << folder;
        EXPECT_TRUE(t.systemModule) << folder;
    }
    // A copy elsewhere stands on its signature alone. Windows lists its
    // kernel32 in a catalog; Wine's DLLs carry no signature and Wine has no
    // catalogs, so there the copy is a file like any other.
    const std::string copy = copied(folders.system + "\\kernel32.dll", "kernel32.dll");
    const ModuleTrust t = moduleTrust(copy);
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_FALSE(t.systemModule);
    EXPECT_EQ(t.trusted, !wine);
    EXPECT_EQ(t.signer.rfind("Microsoft", 0) == 0, !wine) << t.signer;
    test::removePath(copy.substr(0, copy.find_last_of('\\')));
}

}  // namespace
}  // namespace marvik
