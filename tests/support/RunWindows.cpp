#include "tests/support/RunWindows.h"

#include "app/Unit1.h"
#include "app/Unit2.h"

#include <QDir>

#include <fstream>

void RunWindows::Open(const std::string& pictureDirectory) {
    m_oldDirectory = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    std::ofstream emptyLog(LogFileName);
    m_application = std::make_unique<TApplication>();
    m_application->SetTitle("Wallpapers");
    m_application->SetErrorPresenter(
        [this](const std::string&, const std::string& text) { m_errors.push_back(text); });
    StopFlag = 0;
    CurrentNumber = 0;
    Form1 = m_application->CreateForm<TForm1>();
    Form2 = m_application->CreateForm<TForm2>();
    Form1->PictureDirectory = pictureDirectory + "/";
}

void RunWindows::Close() {
    m_application.reset();
    if (m_oldDirectory.isEmpty())
        return;
    QDir::setCurrent(m_oldDirectory);
    m_oldDirectory.clear();
}
