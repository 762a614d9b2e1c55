#pragma once

#include <QtGlobal>
#include <linux/capability.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace tarvic::test {

// While it lives, this thread meets permission bits as an ordinary user does: root's
// override of them is dropped, and with `user` given files are reached as that user
// (root may take over what belongs to others; another user may not). holds() is false
// where root cannot give the override up, so that a test can say it skips.
class OrdinaryUser
{
public:
    explicit OrdinaryUser(uid_t user = uid_t(-1))
    {
        __user_cap_data_struct lowered[2]{};
        m_saved = ::syscall(SYS_capget, &m_header, m_caps) == 0 && ::syscall(SYS_capget, &m_header, lowered) == 0;
        if (!m_saved)
            return;
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_holds = ::syscall(SYS_capset, &m_header, lowered) == 0 || ::geteuid() != 0;
        if (user != uid_t(-1))
            ::setfsuid(user);
    }
    ~OrdinaryUser()
    {
        ::setfsuid(::geteuid());
        if (m_saved)
            ::syscall(SYS_capset, &m_header, m_caps);
    }
    Q_DISABLE_COPY(OrdinaryUser)
    bool holds() const { return m_holds; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_caps[2]{};
    bool m_saved = false, m_holds = false;
};

} // namespace tarvic::test
