// SPDX-License-Identifier: MIT

#include "tests/common/OrdinaryUserAccess.h"

#include <sys/fsuid.h>
#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

} // namespace

OrdinaryUserAccess::OrdinaryUserAccess()
{
    if (::geteuid() != 0)
        return;
    m_switched = true;
    m_previousGid = gid_t(::setfsgid(NoGroup));
    m_previousUid = uid_t(::setfsuid(Nobody));
    // Both calls return the previous value even when they fail; asking again tells.
    m_ok = ::setfsuid(uid_t(-1)) == int(Nobody) && ::setfsgid(gid_t(-1)) == int(NoGroup);
}

OrdinaryUserAccess::~OrdinaryUserAccess()
{
    if (!m_switched)
        return;
    ::setfsuid(m_previousUid);
    ::setfsgid(m_previousGid);
}
