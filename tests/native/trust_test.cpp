// What makes a module trusted: where its file lies and what its signatures were found to be.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "checks/trust.h"

namespace marvik {
namespace {

TEST(Trust, SystemModuleIsAFileDirectlyInTheFolder) {
    const std::tuple<const char*, const char*, bool> cases[] = {  // path, folder, directly in it
        {"C:\\Windows\\System32\\d3d9.dll", "C:\\Windows\\System32", true},
        {"c:\\windows\\SYSTEM32\\D3D9.DLL", "C:\\Windows\\System32", true},
        {"C:\\Windows\\SysWOW64\\d3d9.dll", "C:\\Windows\\SysWOW64\\", true},
        // Subfolders some of which any user may write to.
        {"C:\\Windows\\System32\\spool\\drivers\\color\\hook.dll", "C:\\Windows\\System32", false},
        {"C:\\Windows\\System32\\..\\Temp\\hook.dll", "C:\\Windows\\System32", false},
        {"C:\\Windows\\System32x\\hook.dll", "C:\\Windows\\System32", false},
        {"C:\\Games\\CoD4\\d3d9.dll", "C:\\Windows\\System32", false},
        {"\\d3d9.dll", "", false},  // no 32-bit twin on a 32-bit system
    };
    for (const auto& [path, folder, in] : cases)
        EXPECT_EQ(directlyInFolder(path, folder), in) << path << " in " << folder;
}

TEST(Trust, DecidedBySystemFolderOrAValidSignatureWhoseSignerIsKept) {
    // An overlay's DLL signed by its maker; a system file signed through Windows' catalogs.
    const SignatureCheck none, vendor{true, "Overlay Vendor"}, windows{true, "Microsoft Windows"};
    const SignatureCheck broken{false, "Overlay Vendor"};  // a signature that did not verify names no one
    // in the system folder, embedded and catalog signatures; trusted, signed, signer
    const std::tuple<bool, SignatureCheck, SignatureCheck, bool, bool, std::string> cases[] = {
        {true, none, none, true, false, ""},
        {false, vendor, none, true, true, "Overlay Vendor"},
        {false, none, windows, true, true, "Microsoft Windows"},
        {false, broken, windows, true, true, "Microsoft Windows"},
        {false, broken, none, false, false, ""},
    };
    for (const auto& [system, embedded, catalog, trusted, signedValid, signer] : cases) {
        const ModuleTrust t = decideTrust(system, embedded, catalog);
        EXPECT_EQ(std::make_tuple(t.trusted, t.signedValid, t.signer), std::tie(trusted, signedValid, signer));
    }
}

}  // namespace
}  // namespace marvik
