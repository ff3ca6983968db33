#pragma once
// Where Velmora keeps its files. Every location follows the XDG variables, so tests and users can move them.

#include <QString>

namespace StandardLocations {
QString appIdentifier();          // "org.velmora.Velmora"
QString configHome();             // $XDG_CONFIG_HOME or ~/.config
QString dataHome();               // $XDG_DATA_HOME or ~/.local/share
QString stateHome();              // $XDG_STATE_HOME or ~/.local/state
QString preferencesFilePath();    // <config>/org.velmora.Velmora.plist
QString applicationSupportPath(); // <data>/org.velmora.Velmora
QString logsFolderPath();         // <state>/org.velmora.Velmora
QString tempPath();
QString desktopPath();
QString homePath();
}  // namespace StandardLocations
