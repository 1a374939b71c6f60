#pragma once

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// Drops, for the calling thread, the capabilities that let root write into a
// read-only directory, so the test means the same as root and as a user.
class WithoutFileOverride {
public:
    WithoutFileOverride() {
        syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[2] = { m_saved[0], m_saved[1] };
        for (const int cap : FileOverrides)
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        syscall(SYS_capset, &m_header, reduced);
    }
    ~WithoutFileOverride() { syscall(SYS_capset, &m_header, m_saved); }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

    // The same for a child process and the program it runs: for a modifier
    // of QProcess, between fork and exec (only async-signal-safe calls). A
    // program started by root regains the effective set at exec, so these
    // leave the bounding set, which needs CAP_SETPCAP; without it (not root)
    // the call fails harmlessly, as there is nothing to drop.
    static void DropForChild() {
        for (const int cap : FileOverrides)
            prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }

private:
    static constexpr int FileOverrides[] = { CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER };

    __user_cap_header_struct m_header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct m_saved[2] {};
};
