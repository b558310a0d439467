// The suite's message texts and its About box.
//
// The texts are ordinary writable globals so that an application can translate them at start-up;
// every component reads them at the moment it needs one, never caching a copy. Assign them before
// components run on other threads: they are not guarded.
#pragma once

#include "rtl/System.h"

namespace ktinet {

extern String strKtInSoftwareUpdate;  // "Software update"
extern String strKtInConnecting;      // "Connecting..."
extern String strKtInConnected;       // "Connected."
extern String strKtInFileSearch;      // "File search..."
extern String strKtInFileFound;       // "File found."
extern String strKtInFileComparing;   // "Comparing..."
extern String strKtInFileCompared;    // "Compared."
extern String strKtInDownloading;     // "Downloading..."
extern String strKtInDownloaded;      // "Downloaded."
extern String strKtInDisconnecting;   // "Disconnecting..."
extern String strKtInDisconnected;    // "Disconnected."
extern String strKtInProgress;        // "Downloaded %d of %d bytes (%d%%)"
extern String strKtInProxyLogon;      // "Proxy Server authorization"
extern String strKtInLogon;           // "HTTP Server authorization"
extern String strKtInEHost;           // "Host/Address is not defined."
extern String strKtInEAuthRequired;   // "HTTP Server authorization required"
extern String strKtInEProxyAuth;      // "Proxy Server authorization required"
extern String strKtInEFileNotFound;   // "File not found"

// The About box text: one line per item, lines joined with CR LF.
String KtInetAboutText();

// Shows the About box as a modal information message with one OK button, through the installed
// UI backend (a message box on the terminal, the text on stderr when headless).
void AboutKtInet();

}  // namespace ktinet
