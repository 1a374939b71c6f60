#include "net/TSimpleThread.h"

#include <memory>
#include <thread>

void TSimpleThread::Start(TProcedure procedure, void* argument) {
    auto self = std::unique_ptr<TSimpleThread>(new TSimpleThread(procedure, argument));
    std::thread(&TSimpleThread::Run, self.get()).detach();
    // The thread owns the object from here on; Run frees it.
    (void)self.release();
}

void TSimpleThread::Run() {
    std::unique_ptr<TSimpleThread> self(this);
    m_procedure(m_argument);
}
