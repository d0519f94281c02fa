#pragma once

#include "platform/Error.h"

#include <QString>

#include <optional>

#include <sys/types.h>

namespace vellorin {

// A user of this machine, as root hands a run over to one.
struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    QString name;
    QString home;
};

// Who owns a folder, whether anyone but root could change the way to it, and how a process
// started by root becomes the user it works for.
namespace accounts {

bool runningAsRoot();

// The owner of the folder the path names (links followed); none when it is not a folder or
// has no account.
std::optional<Account> ownerOfFolder(const QString& path);

// When root writes below this folder: why someone other than root could put a link or a
// folder of their own in root's way (the folder, or one on the way to it, that another user
// owns or may write to without the sticky bit's protection). None when only root can.
std::optional<QString> whyOthersCouldRedirect(const QString& folder);

// Becomes the account for good, groups first and the user last, so that nothing of root's is
// left to take back; HOME, USER, LOGNAME and XDG_RUNTIME_DIR follow, and root's session bus is
// forgotten.
std::optional<Error> become(const Account& account);

} // namespace accounts

} // namespace vellorin
