#pragma once

#include "CdpProtocol.h"

#include <QString>
#include <QStringList>
#include <optional>

// Where browser profiles live, and what a profile says of the browser running on it: one place
// for finding the browser and for finding its cache.
namespace BrowserProfiles {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
QString configHome();
// The profile folders below the configuration folder that are looked in when nothing names one:
// Nimbril's own browser profile ("nimbril/browser-profile"), then the usual Chromium-family ones.
QStringList folderNames();
// configHome + / + each of folderNames().
QStringList defaultFolders(const QString& configHome = BrowserProfiles::configHome());
// The DevToolsActivePort file a browser running on the profile wrote; nullopt when there is
// none or it cannot be read.
std::optional<Cdp::ActivePort> activePort(const QString& profileFolder);

} // namespace BrowserProfiles
