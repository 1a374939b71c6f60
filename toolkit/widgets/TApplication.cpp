#include "toolkit/widgets/TApplication.h"

#include "toolkit/widgets/TForm.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <utility>

TApplication* Application = nullptr;

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) <= '.')
        return message;
    return message + ".";
}

std::string ElidedErrorText(const std::string& message) {
    if (message.size() <= ErrorBoxLimit)
        return message;
    // A cut never splits a UTF-8 character: it moves off continuation bytes.
    const auto continuation = [&message](size_t at) {
        return (static_cast<unsigned char>(message[at]) & 0xC0) == 0x80;
    };
    size_t headEnd = ElidedHead;
    while (headEnd > 0 && continuation(headEnd))
        --headEnd;
    size_t tailStart = message.size() - ElidedTail;
    while (tailStart < message.size() && continuation(tailStart))
        ++tailStart;
    return message.substr(0, headEnd) + " \u2026 " + message.substr(tailStart);
}

std::string ApplicationTitle(const std::string& programFile) {
    QString name = QString::fromLocal8Bit(programFile.c_str());
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const auto dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return {};
    // The first character may be a surrogate pair; it stays as it is.
    const qsizetype first = name.at(0).isHighSurrogate() && name.size() > 1 ? 2 : 1;
    return (name.left(first) + name.mid(first).toLower()).toStdString();
}

TApplication::TApplication() {
    m_presenter = [](const std::string& title, const std::string& text) {
        QMessageBox box(QMessageBox::Critical, QString::fromStdString(title),
                        QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok);
        box.exec();
    };
    Application = this;
}

TApplication::~TApplication() {
    while (!m_forms.empty()) {
        auto form = std::move(m_forms.back());
        m_forms.pop_back();
        if (form.get() == m_mainForm)
            m_mainForm = nullptr;
        form.reset();
    }
    if (Application == this)
        Application = nullptr;
}

void TApplication::Initialize() {
    m_title = ApplicationTitle(QCoreApplication::applicationFilePath().toStdString());
    QApplication::setQuitOnLastWindowClosed(false);
}

void TApplication::Adopt(std::unique_ptr<TForm> form) {
    if (!m_mainForm)
        m_mainForm = form.get();
    m_forms.push_back(std::move(form));
}

void TApplication::Run() {
    if (m_mainForm)
        m_mainForm->show();
    if (!m_terminated)
        QApplication::exec();
}

void TApplication::Terminate() {
    m_terminated = true;
    // exit() rather than quit(): quit() would first send every window a
    // close request, running the main form's close handler a second time.
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::ShowErrorText(const std::string& message) noexcept {
    try {
        const std::string shown = ElidedErrorText(message);
        if (message.size() > ErrorBoxLimit)
            std::fprintf(stderr, "%s: %s\n", m_title.c_str(), message.c_str());
        m_presenter(m_title, ErrorBoxText(shown));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: cannot show the error box: %s\n", m_title.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: cannot show the error box\n", m_title.c_str());
    }
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        ShowErrorText(e.what());
    } catch (...) {
        ShowErrorText("Unknown error");
    }
}

void TApplication::SetErrorPresenter(ErrorPresenter presenter) {
    m_presenter = std::move(presenter);
}

bool RunHandler(const std::function<void()>& handler) noexcept {
    try {
        handler();
        return true;
    } catch (...) {
        if (Application)
            Application->HandleException(std::current_exception());
        else
            std::fprintf(stderr, "Unhandled error in an event handler\n");
        return false;
    }
}
