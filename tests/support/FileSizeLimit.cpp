#include "tests/support/FileSizeLimit.h"

#include <stdexcept>

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
        throw std::runtime_error("getrlimit failed");
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = m_saved;
    small.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) {
        std::signal(SIGXFSZ, m_oldHandler);
        throw std::runtime_error("setrlimit failed");
    }
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_oldHandler);
}
