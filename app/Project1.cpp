#include "toolkit/widgets/TApplication.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    TApplication application;
    return QApplication::exec();
}
