#include "platform/CurlMultiOfThread.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadStorage>

namespace {

using SharedMulti = std::shared_ptr<CurlMulti>;

QThreadStorage<SharedMulti>& MultiOfEachThread() {
    // Never destroyed: a thread may end during static teardown and still
    // clear its share.
    static auto* storage = new QThreadStorage<SharedMulti>;
    return *storage;
}

// Qt deletes the application thread's storage only after its dispatcher, so
// that thread lets go of its multi handle when the application object goes.
void DropApplicationThreadMulti() {
    MultiOfEachThread().setLocalData(nullptr);
}

bool OnApplicationThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && application->thread() == QThread::currentThread();
}

} // namespace

std::shared_ptr<CurlMulti> CurlMultiOfThread() {
    QThreadStorage<SharedMulti>& storage = MultiOfEachThread();
    if (storage.hasLocalData() && storage.localData())
        return storage.localData();
    auto multi = std::make_shared<CurlMulti>();
    if (!multi->Valid())
        return nullptr;
    storage.setLocalData(multi);
    if (OnApplicationThread())
        qAddPostRoutine(&DropApplicationThreadMulti);
    return multi;
}
