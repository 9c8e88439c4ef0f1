#pragma once

#include <QString>
#include <functional>

// Opens a folder, a file or an http/mailto address with the user's default program. Failures
// are not reported: there is nothing the user could do about them here.
void ShellOpen(const QString& target);

// Tests see what would have been opened instead of starting programs; an empty handler restores
// the real one.
void SetShellOpenHandler(std::function<void(const QString& target)> handler);
