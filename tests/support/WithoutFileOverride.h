#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// While it lives, the calling thread cannot read past file permissions, as root otherwise
// does, so that an unreadable file is unreadable to the tests whatever account runs them. The
// powers are only set aside, and come back at the end; an ordinary account has none to lose.
// alsoSetAside: more powers to set aside, as bits (1u << CAP_LEASE: leases on others' files).
class WithoutFileOverride
{
public:
    explicit WithoutFileOverride(unsigned alsoSetAside = 0)
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | alsoSetAside);
        m_ok = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutFileOverride()
    {
        if (m_ok) {
            ::syscall(SYS_capset, &m_header, m_saved);
        }
    }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

    bool Ok() const { return m_ok; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_ok = false;
};
