#pragma once

#include <QString>

// Opens a folder, a file or an http/mailto address with the user's default program. Failures
// are not reported: there is nothing the user could do about them here. Tests put a recorder in
// its place.
class ShellOpener
{
public:
    virtual ~ShellOpener() = default;
    virtual void open(const QString& target);
};
