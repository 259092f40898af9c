// SPDX-License-Identifier: MIT

#pragma once

#include <sys/types.h>

// While it lives, the file access checks of the calling thread are those of an ordinary user
// ("nobody"), so that permission bits stop root as well; a process that is not root keeps its
// own identity. setfsuid is per thread: the code under test must run on the thread that made
// the object. Only the owner and "other" bits decide: root's supplementary groups stay, and
// whatever the case must reach has to be open to others when root runs it.
class OrdinaryUserAccess
{
public:
    OrdinaryUserAccess();
    ~OrdinaryUserAccess();
    OrdinaryUserAccess(const OrdinaryUserAccess&) = delete;
    OrdinaryUserAccess& operator=(const OrdinaryUserAccess&) = delete;

    // False when root could not switch: the case would then prove nothing and must fail.
    bool ok() const { return m_ok; }

private:
    bool m_switched = false;
    bool m_ok = true;
    uid_t m_previousUid = 0;
    gid_t m_previousGid = 0;
};
