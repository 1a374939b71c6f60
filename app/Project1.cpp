#include "app/Unit1.h"
#include "app/Unit2.h"
#include "toolkit/widgets/TApplication.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    TApplication application;
    application.Initialize();
    Form1 = application.CreateForm<TForm1>();
    Form2 = application.CreateForm<TForm2>();
    application.Run();
    return 0;
}
