// Whether a module's file is trusted: a system module, or a file carrying a
// valid Authenticode signature, embedded or through the system's catalogs.
// Where a module lives is never enough on its own: any program can write to
// the game folder, Documents or AppData, but not sign with someone else's
// certificate. The decision and its cache are portable; trust_win32.cpp
// makes the system's calls, trust_posix.cpp is the native build's scripted
// stand-in for them (trust_posix.h).
#pragma once

#include <string>

namespace marvik {

struct ModuleTrust {
    bool trusted = false;       // systemModule or signedValid
    bool systemModule = false;  // the file lies directly in the system folder or its 32-bit twin
    bool signedValid = false;   // a valid signature, embedded or from a catalog
    std::string signer;         // the signing certificate's common name, for labels; empty when unsigned
};

// The trust of the module file at path (a drive path, "C:\\..."), verified
// once per file content (the file's stamp: volume, index, size, write
// time) and then kept. Offline: no revocation or certificate fetch, so a
// call never waits on the network. A file that cannot be opened is not
// trusted. Safe to call from several threads.
ModuleTrust moduleTrust(const std::string& path);

// Whether path names a file directly in one of the folders (ASCII case
// ignored; an empty folder matches nothing). Only directly: some of the
// system folder's subfolders (spool\drivers\color, Tasks) are writable by
// any user. A path with a ".." step is never in a folder.
bool directlyInFolder(const std::string& path, const std::string& folder);

// What one look at a file's signature found.
struct SignatureCheck {
    bool valid = false;
    std::string signer;
};

// The trust that follows from what was found: the catalog is asked only
// when the embedded signature is not valid, so it may be left unchecked.
ModuleTrust decideTrust(bool systemModule, const SignatureCheck& embedded, const SignatureCheck& catalog);

// The platform's part, made by trust_win32.cpp and trust_posix.cpp.
struct SystemFolders {
    std::string system;  // GetSystemDirectory
    std::string wow64;   // GetSystemWow64Directory; empty on a 32-bit system
};
SystemFolders systemFolders();
// The file's embedded Authenticode signature, verified offline.
SignatureCheck embeddedSignature(const std::string& path);
// A signature of the file's hash in one of the system's catalogs.
SignatureCheck catalogSignature(const std::string& path);

}  // namespace marvik
