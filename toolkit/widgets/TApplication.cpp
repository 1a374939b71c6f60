#include "toolkit/widgets/TApplication.h"

#include "toolkit/runtime/Exception.h"

#include <QApplication>
#include <QMessageBox>

TApplication* Application = nullptr;

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) <= '.')
        return message;
    return message + ".";
}

TApplication::TApplication() {
    m_presenter = [](const std::string& title, const std::string& text) {
        QMessageBox box(QMessageBox::Critical, QString::fromLatin1(title.c_str()),
                        QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok);
        box.exec();
    };
    Application = this;
}

TApplication::~TApplication() {
    if (Application == this)
        Application = nullptr;
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::ShowErrorText(const std::string& message) {
    m_presenter(m_title, ErrorBoxText(message));
}

void TApplication::HandleException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowErrorText(e.what());
    } catch (...) {
        ShowErrorText("Unknown error");
    }
}

void TApplication::SetErrorPresenter(ErrorPresenter presenter) { m_presenter = std::move(presenter); }
